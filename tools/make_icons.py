#!/usr/bin/env python3
"""Draws Kestrune's three 16-colour icons (32x32 and 16x16 images each) as .ico files.

The artwork is this script: the library icon (a blue tile with two linked rings), the hard-link
overlay (a badge with two linked rings) and the reparse-point overlay (a badge with a bent arrow).
Overlays sit in the lower-left corner, as Explorer places them over an item's icon, and keep a
black outline and a white fill so that they read at 16x16 on any icon.
"""
import math
import struct
import sys

# The standard Windows 16-colour palette.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, DARK_BLUE, GRAY, GREEN, BLUE, WHITE = 0, 2, 4, 8, 10, 12, 15


def ring(img, size, cx, cy, radius, width, colour):
    for y in range(size):
        for x in range(size):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if radius - width <= d <= radius:
                img[y][x] = colour


def rect(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1):
        for x in range(x0, x1):
            img[y][x] = colour


def badge(img, size):
    """A white square with a black outline over the lower-left 5/8 of the icon."""
    side = size * 5 // 8
    top = size - side
    rect(img, 0, top, side, size, BLACK)
    rect(img, 1, top + 1, side - 1, size - 1, WHITE)
    return top, side


def linked_rings(img, size, left, top, span, colours):
    radius = span * 0.3
    width = max(1.2, span / 9)
    ring(img, size, left + span * 0.36, top + span * 0.36, radius, width, colours[0])
    ring(img, size, left + span * 0.64, top + span * 0.64, radius, width, colours[1])
    # The first ring passes over the second at one crossing, so the two read as linked.
    ring_over = [[None] * size for _ in range(size)]
    ring(ring_over, size, left + span * 0.36, top + span * 0.36, radius, width, colours[0])
    for y in range(int(top + span * 0.5), size):
        for x in range(size):
            if ring_over[y][x] is not None and x >= left + span * 0.45:
                img[y][x] = colours[0]


def library_icon(size):
    img = [[None] * size for _ in range(size)]
    rect(img, 1, 1, size - 1, size - 1, BLACK)
    rect(img, 2, 2, size - 2, size - 2, DARK_BLUE)
    linked_rings(img, size, 2, 2, size - 4, (WHITE, 11))
    return img


def hardlink_overlay(size):
    img = [[None] * size for _ in range(size)]
    top, side = badge(img, size)
    linked_rings(img, size, 1, top + 1, side - 2, (BLUE, DARK_BLUE))
    return img


def reparse_overlay(size):
    img = [[None] * size for _ in range(size)]
    top, side = badge(img, size)
    inner = side - 2
    stroke = max(1, inner // 5)
    x0, y0 = 1 + inner // 5, top + 1 + inner // 6
    bottom = top + 1 + inner * 3 // 5
    # A bent arrow: down, then right into the head.
    rect(img, x0, y0, x0 + stroke, bottom + stroke, DARK_GREEN)
    head_x = 1 + inner * 3 // 5
    rect(img, x0, bottom, head_x, bottom + stroke, DARK_GREEN)
    head = max(2, inner // 3)
    centre = bottom + stroke / 2
    for i in range(head + 1):
        half = head - i
        rect(img, head_x + i, int(centre - half), head_x + i + 1, int(math.ceil(centre + half)), DARK_GREEN)
    return img


def dib(img, size):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_rows, and_rows = [], []
    for y in reversed(range(size)):
        row = img[y]
        nibbles = [(c if c is not None else 0) for c in row]
        packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(packed + b'\0' * ((4 - len(packed) % 4) % 4))
        bits = 0
        mask = bytearray()
        for x, c in enumerate(row):
            bits = (bits << 1) | (1 if c is None else 0)
            if x % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b'\0' * ((4 - len(mask) % 4) % 4))
    return header + palette + b''.join(xor_rows) + b''.join(and_rows)


def ico(draw):
    images = [(size, dib(draw(size), size)) for size in (32, 16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


def main(folder):
    for name, draw in (('kestrune.ico', library_icon), ('hardlink-overlay.ico', hardlink_overlay),
                       ('reparse-overlay.ico', reparse_overlay)):
        with open(f'{folder}/{name}', 'wb') as f:
            f.write(ico(draw))


if __name__ == '__main__':
    main(sys.argv[1])
