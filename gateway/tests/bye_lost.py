#!/usr/bin/env python3
"""A caller whose first BYE from the gateway is lost: calls NUMBER at the gateway, ACKs its 200,
takes the gateway's BYE without answering it, and answers only the BYE sent again, which must
be the same request and come at T1 (0.5 s) after the first; no third BYE may follow the 200.
SIPp cannot play this caller: it takes the second BYE for a retransmission of the first.

Usage: bye_lost.py GATEWAY_HOST NUMBER LOCAL_PORT
"""
import socket
import sys
import time

BYE_WAIT = 30  # seconds for the line to hang up


def sip(lines, body=""):
    lines = lines + ["Content-Length: %d" % len(body), "", body]
    return "\r\n".join(lines).encode()


def answer_to(request, status):
    head = request.decode("latin-1").split("\r\n\r\n", 1)[0].split("\r\n")
    copied = [h for h in head[1:] if h.split(":", 1)[0].lower() in ("via", "from", "to", "call-id", "cseq")]
    return sip(["SIP/2.0 " + status] + copied)


def receive(sock, seconds, wanted):
    """The next datagram whose first line starts with `wanted`, or None after `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        sock.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            data = sock.recv(65536)
        except socket.timeout:
            return None
        if data.startswith(wanted.encode()):
            return data
    return None


def main():
    host, number, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", port))
    gateway = (host, 5060)
    me = "127.0.0.1:%d" % port
    call = ["From: <sip:lost@%s>;tag=lost1" % me, "To: <sip:%s@gw>" % number,
            "Call-ID: bye-lost-%d@127.0.0.1" % port]
    sdp = "v=0\r\no=lost 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n" \
          "m=audio 4000 RTP/AVP 0\r\n"
    sock.sendto(sip(["INVITE sip:%s@gw SIP/2.0" % number,
                     "Via: SIP/2.0/UDP %s;branch=z9hG4bKlost1" % me, "Max-Forwards: 70"] + call +
                    ["CSeq: 1 INVITE", "Contact: <sip:lost@%s>" % me,
                     "Content-Type: application/sdp"], sdp), gateway)
    ok = receive(sock, 20, "SIP/2.0 200")
    if ok is None:
        sys.exit("no 200 for the INVITE")
    to = next(h for h in ok.decode("latin-1").split("\r\n") if h.lower().startswith("to:"))
    sock.sendto(sip(["ACK sip:%s@gw SIP/2.0" % number,
                     "Via: SIP/2.0/UDP %s;branch=z9hG4bKlost2" % me, "Max-Forwards: 70",
                     call[0], to, call[2], "CSeq: 1 ACK"]), gateway)
    print("connected", flush=True)
    first = receive(sock, BYE_WAIT, "BYE ")
    if first is None:
        sys.exit("no BYE from the gateway")
    first_at = time.monotonic()
    again = receive(sock, 3, "BYE ")
    if again is None:
        sys.exit("the lost BYE was not sent again")
    gap = time.monotonic() - first_at
    sock.sendto(answer_to(again, "200 OK"), gateway)
    print("BYE again after %.2f s, answered 200" % gap, flush=True)
    if again != first:
        sys.exit("the BYE sent again differs from the first")
    if not 0.35 <= gap <= 0.9:
        sys.exit("the BYE came again after %.2f s, not T1 (0.5 s)" % gap)
    if receive(sock, 1.5, "BYE ") is not None:
        sys.exit("the BYE came a third time after its 200")


if __name__ == "__main__":
    main()
