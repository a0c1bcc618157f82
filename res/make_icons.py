#!/usr/bin/env python3
"""Draws Kestrand's two icons and writes them as .ico files.

Each icon holds one 32 by 32 image in 16 colours (4 bits a pixel, the standard
Windows palette) with a transparency mask. The picture: a page of text cut
into three pieces that have drifted apart along jagged cuts.
MyIcon1 is the window's icon; MyIcon2, the small icon, is the same page cut
into two with fewer details, so that it still reads when shown at 16 by 16.

Usage: make_icons.py [OUTPUT_FOLDER]   (default: the folder of this script)
The .ico files in res/ are this script's output; edit the drawing here, run
it, and commit both.
"""
import os
import struct
import sys

SIZE = 32

# The standard 16-colour palette, by index: (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, TEAL, SILVER, GREY, RED, BLUE, WHITE = 0, 6, 7, 8, 9, 12, 15
CLEAR = None


def blank():
    return [[CLEAR] * SIZE for _ in range(SIZE)]


def zigzag(x, period):
    """A triangle wave of height 1: the jag of a cut edge."""
    return 1 if (x // (period // 2)) % 2 else 0


def draw_page(image, left, top, width, height, cuts, drift, text_rows, period):
    """A page with a folded corner, cut along jagged lines at the rows in cuts.

    Piece i (counted from the top) is shifted right by drift[i] pixels; each cut
    leaves a gap two pixels high."""
    right = left + width - 1
    bottom = top + height - 1
    fold = 6
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            piece = 0
            in_gap = False
            for cut in cuts:
                edge = cut + zigzag(x - left, period)
                if y >= edge:
                    piece += 1
                if edge <= y < edge + 2:
                    in_gap = True
            if in_gap:
                continue
            # The folded corner: cut away above the diagonal, drawn as a flap.
            corner_x = x - (right - fold)
            corner_y = y - top
            if corner_x > 0 and corner_x > corner_y:
                continue
            colour = WHITE
            on_edge = x in (left, right) or y in (top, bottom)
            on_fold = corner_x > 0 and (corner_x == corner_y or corner_x == fold)
            in_flap = corner_x > 0 and corner_y <= fold and corner_x < corner_y
            if in_flap:
                colour = SILVER
            if on_edge or on_fold:
                colour = BLACK
            elif y in text_rows and left + 3 <= x <= right - 3 - (fold if y - top < fold + 2 else 0):
                colour = BLUE if (x - left) % 7 != 5 else WHITE
            # Each cut edge is drawn dark, as paper torn or cut shows an edge.
            for cut in cuts:
                edge = cut + zigzag(x - left, period)
                if y in (edge - 1, edge + 2):
                    colour = BLACK
            nx = x + drift[piece]
            if 0 <= nx < SIZE:
                image[y][nx] = colour


def draw_line(image, x0, y0, x1, y1, colour):
    steps = max(abs(x1 - x0), abs(y1 - y0))
    for i in range(steps + 1):
        x = x0 + round((x1 - x0) * i / steps)
        y = y0 + round((y1 - y0) * i / steps)
        image[y][x] = colour


def draw_scissors(image, tip_x, tip_y):
    """Open scissors whose blades point left at a cut, finger rings in red."""
    for cx, cy in ((tip_x + 6, tip_y - 3), (tip_x + 6, tip_y + 4)):
        for dy in range(-1, 2):
            for dx in range(-1, 2):
                if (dx, dy) != (0, 0):
                    image[cy + dy][cx + dx] = RED
    draw_line(image, tip_x, tip_y, tip_x + 4, tip_y - 2, BLACK)
    draw_line(image, tip_x, tip_y + 1, tip_x + 4, tip_y + 3, BLACK)
    image[tip_y][tip_x + 2] = GREY      # the pivot
    image[tip_y + 1][tip_x + 2] = GREY


def icon_one():
    image = blank()
    draw_page(image, left=5, top=1, width=21, height=30, cuts=[10, 20],
              drift=[-3, 0, 3], text_rows={4, 6, 8, 15, 17, 25, 27},
              period=4)
    draw_scissors(image, tip_x=24, tip_y=10)
    return image


def icon_two():
    image = blank()
    draw_page(image, left=6, top=1, width=20, height=30, cuts=[14],
              drift=[-3, 3], text_rows={5, 9, 20, 24}, period=6)
    return image


def ico_bytes(image):
    """One-image .ico: directory, bitmap header, palette, colour bits, mask."""
    row_bytes = SIZE // 2            # 4 bits a pixel, already a multiple of 4
    mask_row_bytes = SIZE // 8       # 1 bit a pixel, already a multiple of 4
    colour_bits = bytearray()
    mask_bits = bytearray()
    for row in reversed(image):      # bitmaps are stored bottom-up
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not CLEAR else 0
            lo = row[x + 1] if row[x + 1] is not CLEAR else 0
            colour_bits.append(hi << 4 | lo)
        for x in range(0, SIZE, 8):
            byte = 0
            for bit in range(8):
                if row[x + bit] is CLEAR:
                    byte |= 0x80 >> bit
            mask_bits.append(byte)
    assert len(colour_bits) == row_bytes * SIZE
    assert len(mask_bits) == mask_row_bytes * SIZE
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(colour_bits) + len(mask_bits), 0, 0, 16, 0)
    body = header + palette + bytes(colour_bits) + bytes(mask_bits)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(body),
                        len(directory) + 16)
    return directory + entry + body


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    for name, image in (("MyIcon1.ico", icon_one()), ("MyIcon2.ico", icon_two())):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(ico_bytes(image))


if __name__ == "__main__":
    main()
