#!/usr/bin/env python3
"""A registrar that answers every REGISTER one bad way, for registration_faults.sh.

registrar_faults.py ADDRESS PORT MODE LOG: answers on ADDRESS:PORT until killed and writes one
line per REGISTER received to LOG. MODE: 503, 302, min0 (423 Min-Expires: 0), min2p31 (423
Min-Expires: 2147483648), loop401 (a fresh 401 challenge every time), noexpires (200 without any
expiry), garbage (bytes that are no SIP message), silent (nothing at all).
"""
import socket
import sys
import uuid

address, port, mode, log = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]


def header(text, name):
    for line in text.split("\r\n"):
        if line.lower().startswith(name.lower() + ":"):
            return line.split(":", 1)[1].strip()
    return ""


def answer(text, status, extra=""):
    lines = [f"SIP/2.0 {status}"]
    for name in ("Via", "From", "To", "Call-ID", "CSeq"):
        lines.append(f"{name}: {header(text, name)}")
    return ("\r\n".join(lines) + "\r\n" + extra + "Content-Length: 0\r\n\r\n").encode()


sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind((address, port))
with open(log, "a", buffering=1) as out:
    while True:
        data, peer = sock.recvfrom(65536)
        text = data.decode("latin-1")
        if not text.startswith("REGISTER "):
            continue
        out.write(f"REGISTER {header(text, 'CSeq')}\n")
        if mode == "silent":
            continue
        if mode == "garbage":
            reply = b"\x00\xffSIP/2.0 200\r\n\r\n" + bytes(range(256))
        elif mode == "503":
            reply = answer(text, "503 Service Unavailable")
        elif mode == "302":
            reply = answer(text, "302 Moved Temporarily", "Contact: <sip:elsewhere@192.0.2.99>\r\n")
        elif mode == "min0":
            reply = answer(text, "423 Interval Too Brief", "Min-Expires: 0\r\n")
        elif mode == "min2p31":
            reply = answer(text, "423 Interval Too Brief", "Min-Expires: 2147483648\r\n")
        elif mode == "loop401":
            nonce = uuid.uuid4().hex
            reply = answer(text, "401 Unauthorized",
                           f'WWW-Authenticate: Digest realm="faults", nonce="{nonce}", qop="auth"\r\n')
        elif mode == "noexpires":
            reply = answer(text, "200 OK")
        else:
            raise SystemExit(f"unknown mode {mode}")
        sock.sendto(reply, peer)
