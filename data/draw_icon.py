#!/usr/bin/env python3
"""Draws Parvo's icon: a sheet of paper with a folded top-right corner and rows of dark marks,
on a light-grey square with a one-pixel red border; 32 x 32 pixels in the 16 standard colours.

Writes parvo.png (the desktop icon), parvo.ico (the Windows program's icon) and parvo.svg (the
same pixels, for scalable themes) beside this script. Needs nothing beyond Python itself."""

import pathlib
import struct
import zlib

SIZE = 32
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, RED, WHITE = 0, 4, 7, 8, 9, 15

LEFT, RIGHT, TOP, BOTTOM, FOLD = 7, 24, 3, 28, 7
# Each row of marks as runs of (ink, gap) lengths, like words on a line.
MARK_ROWS = {12: [4, 1, 6, 1, 2], 15: [3, 1, 5, 1, 4], 18: [6, 1, 3, 1, 3],
             21: [2, 1, 7, 1, 3], 24: [5, 1, 4]}


def paper_pixel(x, y):
    across = x - (RIGHT - FOLD)
    down = y - TOP
    if 0 <= across <= FOLD and down <= FOLD:
        if across > down:
            return SILVER  # the corner folded away
        if across == down or across == 0 or down == FOLD:
            return BLACK
        return GREY  # the back of the folded corner
    if x in (LEFT, RIGHT) or y in (TOP, BOTTOM):
        return BLACK
    if y in MARK_ROWS:
        position = LEFT + 3
        for number, length in enumerate(MARK_ROWS[y]):
            if position <= x < position + length and number % 2 == 0:
                return NAVY
            position += length
    return WHITE


def pixel(x, y):
    if x in (0, SIZE - 1) or y in (0, SIZE - 1):
        return RED
    if LEFT <= x <= RIGHT and TOP <= y <= BOTTOM:
        return paper_pixel(x, y)
    return SILVER


def packed_rows(rows):
    return [bytes(row[i] << 4 | row[i + 1] for i in range(0, SIZE, 2)) for row in rows]


def png(rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 4, 3, 0, 0, 0)  # 4-bit palette
    palette = b"".join(bytes(colour) for colour in PALETTE)
    pixels = b"".join(b"\0" + row for row in packed_rows(rows))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", palette) +
            chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


def ico(rows):
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    image = b"".join(reversed(packed_rows(rows)))  # bottom row first
    mask = bytes(4 * SIZE)  # every pixel opaque
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(image) + len(mask), 0, 0,
                       16, 0)
    bitmap = info + colours + image + mask
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(bitmap), 6 + 16)
    return struct.pack("<HHH", 0, 1, 1) + entry + bitmap


def svg(rows):
    shapes = []
    for y, row in enumerate(rows):
        x = 0
        while x < SIZE:
            end = x
            while end < SIZE and row[end] == row[x]:
                end += 1
            shapes.append('<rect x="%d" y="%d" width="%d" height="1" fill="#%02x%02x%02x"/>' %
                          ((x, y, end - x) + PALETTE[row[x]]))
            x = end
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32" '
            'shape-rendering="crispEdges">\n' + "\n".join(shapes) + "\n</svg>\n")


def main():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    folder = pathlib.Path(__file__).resolve().parent
    (folder / "parvo.png").write_bytes(png(rows))
    (folder / "parvo.ico").write_bytes(ico(rows))
    (folder / "parvo.svg").write_text(svg(rows))


if __name__ == "__main__":
    main()
