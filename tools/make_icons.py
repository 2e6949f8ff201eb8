#!/usr/bin/env python3
"""Draws Kestrune's three icons as .ico files: 16-colour 32x32 and 16x16 images for old displays,
and 32-bit images with alpha at every size Explorer asks for at 100 to 400 % scaling.

The artwork is this script: the library icon (a blue tile with two linked rings), the hard-link
overlay (a badge with two linked rings) and the reparse-point overlay (a badge with a bent arrow).
Overlays sit in the lower-left corner, as Explorer places them over an item's icon, and keep a
dark outline and a white fill so that they read on light and dark icons alike. The 32-bit images
are drawn at each size from shapes measured in pixels, their edges anti-aliased by coverage, never
scaled from another image.
"""
import math
import struct
import sys
import zlib

ALPHA_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)

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


# 32-bit images: each layer is a signed distance in pixels (negative inside) and a colour; a
# pixel's coverage of a layer is its distance clamped to the half pixel around the edge.
def coverage(distance):
    return min(1.0, max(0.0, 0.5 - distance))


def box(px, py, x0, y0, x1, y1, radius=0.0):
    qx = abs(px - (x0 + x1) / 2) - ((x1 - x0) / 2 - radius)
    qy = abs(py - (y0 + y1) / 2) - ((y1 - y0) / 2 - radius)
    return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - radius


def annulus(px, py, cx, cy, radius, width):
    return abs(math.hypot(px - cx, py - cy) - radius) - width / 2


def segment(px, py, ax, ay, bx, by, width):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy) - width / 2


def triangle(px, py, points):
    """A convex polygon, its corners clockwise in screen coordinates (y down)."""
    far = -1e9
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        length = math.hypot(bx - ax, by - ay)
        far = max(far, ((px - ax) * (by - ay) - (py - ay) * (bx - ax)) / length)
    return far


def over(pixel, colour, alpha):
    """Straight-alpha compositing of `colour` with `alpha` over `pixel` (r, g, b, a in 0..1)."""
    if alpha <= 0:
        return pixel
    r, g, b, a = pixel
    out = alpha + a * (1 - alpha)
    mix = [(c * alpha + p * a * (1 - alpha)) / out for c, p in zip(colour, (r, g, b))]
    return (mix[0], mix[1], mix[2], out)


def render(size, layers_at):
    """Rows of (r, g, b, a); `layers_at(x, y)` gives (distance, colour) pairs bottom to top."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            pixel = (0.0, 0.0, 0.0, 0.0)
            for distance, colour in layers_at(x + 0.5, y + 0.5):
                pixel = over(pixel, colour, coverage(distance))
            row.append(pixel)
        rows.append(row)
    return rows


def rgb(hex_colour):
    return tuple(int(hex_colour[i:i + 2], 16) / 255 for i in (0, 2, 4))


OUTLINE, PAPER = rgb('1b1f24'), rgb('ffffff')


def rings_layers(px, py, cx, cy, span, colours, width):
    """Two linked rings in a square of side `span` centred on (cx, cy); the first passes over the
    second at their upper-right crossing and under it at the lower-left one."""
    radius = span * 0.27
    a = (cx - span * 0.15, cy - span * 0.15)
    b = (cx + span * 0.15, cy + span * 0.15)
    first = annulus(px, py, a[0], a[1], radius, width)
    second = annulus(px, py, b[0], b[1], radius, width)
    upper_right = px - cx > py - cy
    return [(first, colours[0]), (second, colours[1])] + ([(first, colours[0])] if upper_right else [])


def alpha_library(size):
    edge = max(1.0, size / 32)
    def layers(px, py):
        shade = tuple(t + (b - t) * py / size for t, b in zip(rgb('3474e0'), rgb('173f94')))
        return [(box(px, py, 0.5, 0.5, size - 0.5, size - 0.5, size * 0.16), OUTLINE),
                (box(px, py, 0.5 + edge, 0.5 + edge, size - 0.5 - edge, size - 0.5 - edge, size * 0.16 - edge), shade)] + \
            rings_layers(px, py, size / 2, size / 2, size * 0.9, (PAPER, rgb('ffd84a')), max(1.6, size * 0.085))
    return render(size, layers)


def alpha_badge(size, symbol):
    """The overlay badge: a rounded white square with a dark outline in the lower-left corner,
    5/8 of the icon up to 24 pixels and half of it above, as large overlays take less room."""
    side = size * 5 / 8 if size <= 24 else size / 2
    top = size - side
    edge = max(1.0, side / 14)
    def layers(px, py):
        return [(box(px, py, 0, top, side, size, side * 0.14), OUTLINE),
                (box(px, py, edge, top + edge, side - edge, size - edge, side * 0.14 - edge), PAPER)] + \
            symbol(px, py, side / 2, top + side / 2, side - 2 * edge)
    return render(size, layers)


def alpha_hardlink(size):
    return alpha_badge(size, lambda px, py, cx, cy, span: rings_layers(
        px, py, cx, cy, span, (rgb('1f63e0'), rgb('0b2f86')), max(1.3, span * 0.12)))


def alpha_reparse(size):
    def arrow(px, py, cx, cy, span):
        stroke = max(1.4, span * 0.17)
        left, top = cx - span * 0.26, cy - span * 0.3
        turn_y, head_x = cy + span * 0.12, cx + span * 0.08
        head = span * 0.3
        green = rgb('138a36')
        shaft = min(segment(px, py, left, top, left, turn_y, stroke), segment(px, py, left, turn_y, head_x, turn_y, stroke))
        tip = triangle(px, py, [(head_x - 0.5, turn_y - head), (head_x + head, turn_y), (head_x - 0.5, turn_y + head)])
        return [(min(shaft, tip), green)]
    return alpha_badge(size, arrow)


def png(rows):
    height, width = len(rows), len(rows[0])
    raw = b''.join(b'\0' + bytes(round(c * 255) for p in row for c in p) for row in rows)
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def dib32(rows):
    """A 32-bit BGRA image with its AND mask (set where a pixel is fully transparent), or a PNG at 256."""
    size = len(rows)
    if size >= 256:
        return png(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour, mask = b'', b''
    for row in reversed(rows):
        colour += b''.join(struct.pack('<BBBB', *(round(c * 255) for c in (b, g, r, a))) for r, g, b, a in row)
        bits = bytearray((size + 31) // 32 * 4)
        for x, pixel in enumerate(row):
            if pixel[3] * 255 < 0.5:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


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


def ico(draw, draw_alpha):
    """The 16-colour 32 and 16 pixel images first, then the 32-bit ones; 256 is written as 0."""
    images = [(size, 16, 4, dib(draw(size), size)) for size in (32, 16)]
    images += [(size, 0, 32, dib32(draw_alpha(size))) for size in ALPHA_SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, colours, bits, data in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b''.join(data for *_, data in images)


def main(folder):
    for name, draw, draw_alpha in (('kestrune.ico', library_icon, alpha_library),
                                   ('hardlink-overlay.ico', hardlink_overlay, alpha_hardlink),
                                   ('reparse-overlay.ico', reparse_overlay, alpha_reparse)):
        with open(f'{folder}/{name}', 'wb') as f:
            f.write(ico(draw, draw_alpha))


if __name__ == '__main__':
    main(sys.argv[1])
