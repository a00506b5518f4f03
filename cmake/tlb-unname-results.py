#!/usr/bin/env python3
"""Removes the names of result parameters from a type library file.

The interface compiler names every unnamed parameter, so the [out, retval]
parameter of each method leaves it with a made-up name. Our methods'
results carry no name: this rewrites, in place, the name reference of every
parameter flagged as the return value to "none" (-1). Nothing else in the
file changes, so the output depends only on the input.

usage: tlb-unname-results.py FILE.tlb
"""
import struct
import sys

HEADER_SIZE = 0x54
HELP_DLL_FLAG = 0x100
TYPEINFO_SIZE = 0x64
PARAMFLAG_FRETVAL = 0x8
PARAM_SIZE = 12  # data type, name offset, flags


def fail(message):
    sys.exit("tlb-unname-results: " + message)


def unname_results(data):
    if data[:4] != b"MSFT":
        fail("not a type library file")
    varflags, = struct.unpack_from("<i", data, 0x14)
    count, = struct.unpack_from("<i", data, 0x20)
    offset = HEADER_SIZE + (4 if varflags & HELP_DLL_FLAG else 0)
    typeinfo_offsets = struct.unpack_from("<%di" % count, data, offset)
    offset += 4 * count
    typeinfo_table, = struct.unpack_from("<i", data, offset)  # first segment

    changed = 0
    for ti in typeinfo_offsets:
        base = typeinfo_table + ti
        memoffset, = struct.unpack_from("<i", data, base + 0x04)
        elements, = struct.unpack_from("<i", data, base + 0x18)
        functions = elements & 0xFFFF
        if functions == 0:
            continue
        record = memoffset + 4  # past the length of the record block
        for _ in range(functions):
            length, = struct.unpack_from("<i", data, record)
            length &= 0xFFFF
            arguments, = struct.unpack_from("<h", data, record + 20)
            for j in range(arguments):
                param = record + length - (arguments - j) * PARAM_SIZE
                _, name, flags = struct.unpack_from("<iii", data, param)
                if flags & PARAMFLAG_FRETVAL and name != -1:
                    struct.pack_into("<i", data, param + 4, -1)
                    changed += 1
            record += length
    return changed


def main():
    if len(sys.argv) != 2:
        fail("usage: tlb-unname-results.py FILE.tlb")
    path = sys.argv[1]
    with open(path, "rb") as f:
        data = bytearray(f.read())
    unname_results(data)
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
