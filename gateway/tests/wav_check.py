#!/usr/bin/env python3
"""Exit 0 when FILE is a complete RIFF WAVE file: the RIFF size is the file's length less 8 and
the data chunk's size counts exactly the bytes that follow its header. Prints the data size."""
import struct
import sys

data = open(sys.argv[1], "rb").read()
if len(data) < 12 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
    sys.exit("not a RIFF WAVE file")
if struct.unpack("<I", data[4:8])[0] != len(data) - 8:
    sys.exit("RIFF size %d, file %d bytes" % (struct.unpack("<I", data[4:8])[0], len(data)))
at = 12
while at + 8 <= len(data):
    kind, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
    if kind == b"data":
        if at + 8 + size != len(data):
            sys.exit("data chunk of %d bytes, %d follow" % (size, len(data) - at - 8))
        print(size)
        sys.exit(0)
    at += 8 + size + (size & 1)
sys.exit("no data chunk")
