#!/usr/bin/env python3
"""A caller that keeps one call up for a long time, as a PBX in front of the gateway would:
PCMU audio both ways (a 20 ms packet every 20 ms), a session refresh by UPDATE every REFRESH
seconds (Session-Expires 90, refresher uac), and a hold (re-INVITE a=sendonly) and resume every
HOLD seconds. It reports the refreshes answered and lost, and for each resume how long the
gateway took to send audio again. Usage:
  long_call.py GATEWAY NUMBER LOCAL_ADDRESS SECONDS [REFRESH] [HOLD]"""
import random
import select
import socket
import sys
import time

gateway, number, local = sys.argv[1], sys.argv[2], sys.argv[3]
seconds = float(sys.argv[4])
refresh_every = float(sys.argv[5]) if len(sys.argv) > 5 else 45
hold_every = float(sys.argv[6]) if len(sys.argv) > 6 else 300
held_for = 10.0

sip = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sip.bind((local, 0))
sip_port = sip.getsockname()[1]
rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
rtp.bind((local, 0))
rtp_port = rtp.getsockname()[1]
call_id = "long-%d@%s" % (random.randrange(1 << 30), local)
from_tag = "%x" % random.randrange(1 << 32)
to_tag = ""
cseq = 0
version = 1


def sdp(direction):
    global version
    version += 1
    return ("v=0\r\no=long 1 %d IN IP4 %s\r\ns=-\r\nc=IN IP4 %s\r\nt=0 0\r\n"
            "m=audio %d RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=%s\r\n" %
            (version, local, local, rtp_port, direction))


def request(method, body="", extra=""):
    global cseq
    if method != "ACK":
        cseq += 1
    tag = ";tag=" + to_tag if to_tag else ""
    text = ("%s sip:%s@%s SIP/2.0\r\nVia: SIP/2.0/UDP %s:%d;branch=z9hG4bK%x;rport\r\n"
            "From: <sip:long@%s:%d>;tag=%s\r\nTo: <sip:%s@%s>%s\r\nCall-ID: %s\r\nCSeq: %d %s\r\n"
            "Contact: <sip:long@%s:%d>\r\nMax-Forwards: 70\r\nSupported: timer\r\n%s" %
            (method, number, gateway, local, sip_port, random.randrange(1 << 48), local, sip_port,
             from_tag, number, gateway, tag, call_id, cseq, method, local, sip_port, extra))
    if body:
        text += "Content-Type: application/sdp\r\n"
    text += "Content-Length: %d\r\n\r\n%s" % (len(body), body)
    sip.sendto(text.encode(), (gateway, 5060))


def final_answer(method, timeout=35):
    """The final answer to our last request; answers the gateway's own requests meanwhile."""
    global to_tag
    end = time.time() + timeout
    while time.time() < end:
        pump_rtp()
        ready, _, _ = select.select([sip], [], [], 0.02)
        if not ready:
            continue
        data, source = sip.recvfrom(65536)
        text = data.decode(errors="replace")
        head = text.split("\r\n", 1)[0]
        if not head.startswith("SIP/2.0"):
            # The gateway's request (an UPDATE of its own, a BYE): 200, echoing its headers.
            lines = [l for l in text.split("\r\n") if l.split(":", 1)[0].lower() in
                     ("via", "from", "to", "call-id", "cseq")]
            sip.sendto(("SIP/2.0 200 OK\r\n" + "\r\n".join(lines) +
                        "\r\nContent-Length: 0\r\n\r\n").encode(), source)
            if head.startswith("BYE"):
                raise SystemExit("the gateway ended the call: " + head)
            continue
        status = int(head.split()[1])
        cseq_line = [l for l in text.split("\r\n") if l.lower().startswith("cseq:")]
        if not cseq_line or cseq_line[0].split()[2] != method or int(cseq_line[0].split()[1]) != cseq:
            continue
        if status < 200:
            continue
        for line in text.split("\r\n"):
            if line.lower().startswith("to:") and ";tag=" in line and not to_tag:
                to_tag = line.split(";tag=")[1].split(";")[0].strip()
        return status
    return 0


sequence = random.randrange(1 << 16)
stamp = random.randrange(1 << 31)
next_send = time.time()
last_heard = 0.0
resume_at = None
resumes = []
received = 0


def pump_rtp():
    """Sends the 20 ms packets that are due and notes what the gateway sends."""
    global sequence, stamp, next_send, last_heard, resume_at, received
    now = time.time()
    while next_send <= now:
        header = bytes([0x80, 0, sequence >> 8 & 0xFF, sequence & 0xFF]) + stamp.to_bytes(4, "big") + \
            (0x1234ABCD).to_bytes(4, "big")
        rtp.sendto(header + b"\xff" * 160, (gateway, media_port))
        sequence = (sequence + 1) & 0xFFFF
        stamp = (stamp + 160) & 0xFFFFFFFF
        next_send += 0.02
    while select.select([rtp], [], [], 0)[0]:
        rtp.recvfrom(2048)
        received += 1
        last_heard = time.time()
        if resume_at is not None:
            resumes.append(last_heard - resume_at)
            resume_at = None


media_port = 10000
start = time.time()
request("INVITE", sdp("sendrecv"), "Session-Expires: 90;refresher=uac\r\n")
if final_answer("INVITE") != 200:
    raise SystemExit("the call was not answered")
request("ACK")
refreshes = lost = holds = 0
next_refresh = time.time() + refresh_every
next_hold = time.time() + hold_every
while time.time() - start < seconds:
    pump_rtp()
    now = time.time()
    if now >= next_refresh:
        request("UPDATE", "", "Session-Expires: 90;refresher=uac\r\n")
        refreshes += 1
        if final_answer("UPDATE") != 200:
            lost += 1
        next_refresh = now + refresh_every
    elif now >= next_hold:
        request("INVITE", sdp("sendonly"), "Session-Expires: 90;refresher=uac\r\n")
        ok = final_answer("INVITE") == 200
        request("ACK")
        hold_end = time.time() + held_for
        while time.time() < hold_end:
            pump_rtp()
            time.sleep(0.005)
        request("INVITE", sdp("sendrecv"), "Session-Expires: 90;refresher=uac\r\n")
        ok = final_answer("INVITE") == 200 and ok
        request("ACK")
        resume_at = time.time()
        holds += 1 if ok else 0
        next_hold = now + hold_every
        next_refresh = time.time() + refresh_every
    time.sleep(0.005)
request("BYE")
status = final_answer("BYE")
worst = max(resumes) if resumes else -1
print("long call: %.0f s, %d refreshes (%d lost), %d holds and resumes, audio back after "
      "%s ms (worst %.0f ms), %d packets received, BYE answered %d" %
      (time.time() - start, refreshes, lost, holds,
       ", ".join("%.0f" % (r * 1000) for r in resumes), worst * 1000, received, status))
sys.exit(0 if lost == 0 and status == 200 and len(resumes) == holds else 1)
