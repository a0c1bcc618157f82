#!/usr/bin/env python3
"""Checks the README's picture of the window: every label that has a figure beside it
ends left of that figure, with a clear stripe between them, so that no label reads as
run into its figure ("Destination fileN2").

The window is found by its background colour; a pixel of any other colour in a text
line is drawn. The figures are drawn at fixed places; the label's pixels must stop
STRIPE columns short of its figure's place, and the figure must be drawn from there.

Usage: picture-labels.py PNG
"""
import subprocess
import sys

BACKGROUND = (0, 196, 188)
LINE = 16      # rows of one text line in the window's default font
STRIPE = 3     # clear columns between a label and its figure
LABEL_LEFT = 14

# Label, its top row, the figure's left column and the first control right of the line
# (client coordinates).
PAIRS = [
    ("Destination file", 53, 116, 150),
    ("Dimension file", 84, 114, 150),
    ("The rest of the Source:", 124, 167, 390),
    ("The disk free Space:", 156, 157, 390),
]


def read_picture(path):
    size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True, check=True)
    width, height = map(int, size.stdout.split())
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    return width, height, [raw[i:i + 3] for i in range(0, len(raw), 3)]


def client_origin(width, pixels):
    """The top-left background pixel: the client area starts there."""
    background = bytes(BACKGROUND)
    found = [i for i, p in enumerate(pixels) if p == background]
    if not found:
        return None
    return min(i % width for i in found), found[0] // width


def drawn_columns(width, pixels, origin, top, left, right):
    background = bytes(BACKGROUND)
    x0, y0 = origin
    return sorted({x for x in range(left, right) for y in range(top, top + LINE)
                   if pixels[(y0 + y) * width + x0 + x] != background})


def faults(path):
    width, height, pixels = read_picture(path)
    origin = client_origin(width, pixels)
    if origin is None:
        return ["no window background in the picture"]
    found = []
    for label, top, figure, right in PAIRS:
        if origin[1] + top + LINE > height or origin[0] + right > width:
            found.append("%s: the picture is too small" % label)
            continue
        columns = drawn_columns(width, pixels, origin, top, LABEL_LEFT, right)
        label_end = [x for x in columns if x < figure - STRIPE]
        stripe = [x for x in columns if figure - STRIPE <= x < figure]
        figure_start = [x for x in columns if x >= figure]
        if not label_end:
            found.append("%s: no label drawn" % label)
        if not figure_start:
            found.append("%s: no figure drawn at x=%d" % (label, figure))
        if stripe:
            found.append("%s: drawn pixels at x=%s, where the label should have ended before the "
                         "figure at x=%d" % (label, ",".join(map(str, stripe)), figure))
    return found


def main():
    if len(sys.argv) != 2:
        print("usage: picture-labels.py PNG", file=sys.stderr)
        return 2
    found = faults(sys.argv[1])
    for fault in found:
        print("picture-labels: %s: %s" % (sys.argv[1], fault), file=sys.stderr)
    if not found:
        print("picture-labels: %s: every label ends left of its figure" % sys.argv[1])
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
