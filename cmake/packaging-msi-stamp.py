"""Gives an MSI made by wixl fixed summary fields, so that the same files
make the same package: wixl writes a new random package code (revision
number) and the current time (created, last saved) into the summary
information of every package it makes.

    python3 packaging-msi-stamp.py PACKAGE {PACKAGE-CODE} EPOCH

The fields are overwritten in place: the package code and the two times
have fixed sizes, and the container keeps no checksum of its streams."""
import re
import sys

path, code, epoch = sys.argv[1], sys.argv[2].upper(), int(sys.argv[3])
if not re.fullmatch(rb"\{[0-9A-F-]{36}\}", code.encode()):
    sys.exit("not a package code: " + code)

# A string property of 39 bytes (VT_LPSTR, the code and its NUL, padded to
# 40) directly followed by two FILETIME properties (VT_FILETIME).
pattern = re.compile(
    rb"\x1e\x00\x00\x00\x27\x00\x00\x00\{[0-9A-F-]{36}\}\x00\x00"
    rb"\x40\x00\x00\x00.{8}\x40\x00\x00\x00.{8}", re.S)
data = bytearray(open(path, "rb").read())
found = list(pattern.finditer(data))
if len(found) != 1:
    sys.exit("%s: found the summary fields %d times, not once" % (path, len(found)))
filetime = ((epoch + 11644473600) * 10_000_000).to_bytes(8, "little")
stamped = (b"\x1e\x00\x00\x00\x27\x00\x00\x00" + code.encode() + b"\x00\x00"
           + b"\x40\x00\x00\x00" + filetime + b"\x40\x00\x00\x00" + filetime)
start = found[0].start()
data[start:start + len(stamped)] = stamped
open(path, "wb").write(data)
