#!/usr/bin/env python3
"""Sends the torture corpus to the gateway, one datagram per file, each from a new socket, and
checks the status of the first answer (or that none comes) against expected.txt.

Files ending in .sip are text: line ends become CRLF, $NAME placeholders are replaced and $LEN
becomes the length of the body after the first empty line. Files ending in .bin go byte for byte
(only the placeholders are replaced). expected.txt lines: "file status" or "file none".
Usage: send.py CORPUS_DIR GATEWAY_HOST GATEWAY_PORT NAME=VALUE...
"""
import os
import socket
import sys
import time

WINDOW = 0.4  # seconds to wait for an answer


def load(path, variables, port):
    data = open(path, "rb").read()
    if path.endswith(".sip"):
        data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    values = dict(variables)
    values["PORT"] = str(port)
    values["UNIQ"] = "%d-%d" % (port, int(time.time() * 1000))
    for name in sorted(values, key=len, reverse=True):
        data = data.replace(b"$" + name.encode(), values[name].encode())
    head, sep, body = data.partition(b"\r\n\r\n")
    if not sep:
        head, sep, body = data.partition(b"\n\n")
    return data.replace(b"$LEN", str(len(body)).encode())


def status_of(answer):
    first = answer.split(b"\r\n", 1)[0].split(b" ")
    if len(first) >= 2 and first[0].startswith(b"SIP/") and first[1].isdigit():
        return first[1].decode()
    return "?" + first[0][:20].decode("latin-1")


def main():
    corpus, host, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    variables = dict(arg.split("=", 1) for arg in sys.argv[4:])
    expected = []
    for line in open(os.path.join(corpus, "expected.txt")):
        line = line.split("#", 1)[0].split()
        if line:
            expected.append((line[0], line[1]))
    failures = 0
    for name, wanted in expected:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind(("127.0.0.1", 0))
        data = load(os.path.join(corpus, name), variables, sock.getsockname()[1])
        sock.sendto(data, (host, port))
        got = []
        deadline = time.monotonic() + WINDOW
        while time.monotonic() < deadline:
            sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                answer = sock.recv(65536)
            except socket.timeout:
                break
            except ConnectionRefusedError:
                continue
            status = status_of(answer)
            if status != "100":
                got.append(status)
                break
        sock.close()
        result = got[0] if got else "none"
        mark = "ok  " if result == wanted else "FAIL"
        if result != wanted:
            failures += 1
        print("%s %-28s expected %-5s got %s" % (mark, name, wanted, " ".join(got) or "none"))
    print("torture: %d messages, %d wrong answers" % (len(expected), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
