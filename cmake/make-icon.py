#!/usr/bin/env python3
"""Writes the icon of Pelmora.exe: a gold key on a transparent ground.

    make-icon.py OUT.ico

Three images, in this order: 32x32 in 2 colours, 32x32 in 16 colours and
16x16 in 16 colours. The key is drawn from a few shapes sampled at the pixel
centres, so the same script always writes the same bytes.
"""

import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
PALETTE2 = [(0x00, 0x00, 0x00), (0xFF, 0xFF, 0xFF)]

BLACK, OLIVE, GRAY, YELLOW, WHITE = 0, 3, 8, 11, 15
TRANSPARENT = None


# The key in pixel units for each image size: the bow is a ring around
# (cx, cy); the shaft and the two teeth are rectangles (x0, y0, x1, y1),
# half-open.
SHAPES = {
    32: dict(cx=9.0, cy=16.0, outer=7.4, inner=3.3, lit=True,
             bars=[(15, 13, 30, 19), (20, 19, 23, 23), (25, 19, 30, 25)]),
    16: dict(cx=5.0, cy=8.0, outer=5.0, inner=1.5, lit=False,
             bars=[(9, 6, 16, 10), (10, 10, 12, 13), (13, 10, 16, 14)]),
}


def render(size, colours):
    """Pixel rows, top first, of colour indexes or TRANSPARENT."""
    shape = SHAPES[size]

    def body(px, py):
        if not (0 <= px < size and 0 <= py < size):
            return False
        x, y = px + 0.5, py + 0.5
        d = ((x - shape['cx']) ** 2 + (y - shape['cy']) ** 2) ** 0.5
        if shape['inner'] <= d <= shape['outer']:
            return True
        return any(x0 <= px < x1 and y0 <= py < y1 for x0, y0, x1, y1 in shape['bars'])

    def edge(px, py):
        return body(px, py) and any(not body(px + ox, py + oy)
                                    for ox, oy in ((-1, 0), (1, 0), (0, -1), (0, 1)))

    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            if edge(px, py):
                row.append(BLACK)
            elif body(px, py):
                if colours == 2:
                    row.append(WHITE)
                elif shape['lit'] and (edge(px, py - 1) or edge(px - 1, py)):
                    row.append(WHITE)  # lit from the upper left
                elif edge(px, py + 1) or edge(px + 1, py):
                    row.append(OLIVE)
                else:
                    row.append(YELLOW)
            elif colours == 16 and body(px - 1, py - 1):
                row.append(GRAY)  # drop shadow
            else:
                row.append(TRANSPARENT)
        rows.append(row)
    return rows


def pack_rows(rows, bits, pick):
    """Bottom-up rows of `bits`-per-pixel values, each padded to 32 bits."""
    out = bytearray()
    for row in reversed(rows):
        acc, nbits, line = 0, 0, bytearray()
        for pixel in row:
            acc = (acc << bits) | pick(pixel)
            nbits += bits
            if nbits == 8:
                line.append(acc)
                acc, nbits = 0, 0
        if nbits:
            line.append(acc << (8 - nbits))
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def image(size, bits):
    palette = PALETTE2 if bits == 1 else PALETTE16
    rows = render(size, len(palette))
    if bits == 1:
        xor = pack_rows(rows, 1, lambda p: 1 if p == WHITE else 0)
    else:
        xor = pack_rows(rows, 4, lambda p: 0 if p is TRANSPARENT else p)
    mask = pack_rows(rows, 1, lambda p: 1 if p is TRANSPARENT else 0)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(mask), 0, 0, len(palette), 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    return header + colours + xor + mask


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: make-icon.py OUT.ico')
    formats = [(32, 1), (32, 4), (16, 4)]
    images = [image(size, bits) for size, bits in formats]
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    for (size, bits), data in zip(formats, images):
        directory += struct.pack('<BBBBHHII', size, size, 1 << bits, 0, 1, bits,
                                 len(data), offset)
        offset += len(data)
    with open(sys.argv[1], 'wb') as f:
        f.write(directory + b''.join(images))


if __name__ == '__main__':
    main()
