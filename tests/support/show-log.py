#!/usr/bin/env python3
"""Prints a bootstrap log for reading. The log is UTF-16LE; under Wine the
installer writes its own log (ANSI, LF) from the start of the same file, so a
log that went through an installation holds both: each byte pair that is a
UTF-16 character of printable ASCII is taken as such, other bytes as ANSI."""
import sys

data = open(sys.argv[1], "rb").read()
out = []
i = 0
if data[:2] == b"\xff\xfe":
    i = 2
while i < len(data):
    if i + 1 < len(data) and data[i + 1] == 0 and (32 <= data[i] < 127 or data[i] in (9, 10, 13)):
        out.append(chr(data[i]))
        i += 2
    elif data[i] == 0:
        i += 1
    else:
        out.append(bytes([data[i]]).decode("cp1252", errors="replace"))
        i += 1
sys.stdout.write("".join(out).replace("\r\n", "\n").replace("\r", "\n"))
