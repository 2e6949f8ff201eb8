#!/usr/bin/env python3
"""Draws the property page's busy animation (AVI resource 207) as an RLE8 AVI file.

The artwork is this script: two pages of the same file side by side, and a magnifying glass that
circles over them once per loop while the page searches the drive for the file's other links.
24 frames of 32x32 pixels, 8 bits per pixel, BI_RLE8, 58,824 us per frame (17 frames a second),
one video stream and no sound: the clip format the animation control plays without a codec.

The top-left pixel is the background colour: with ACS_TRANSPARENT the animation control paints
that colour in the dialog's own background, so nothing else in the picture uses it.
"""
import math
import struct
import sys

SIZE = 32
FRAMES = 24
MICROSECONDS_PER_FRAME = 58824

PALETTE = [
    (192, 192, 192),  # background, made transparent by the control
    (0, 0, 0),        # outlines
    (255, 255, 255),  # paper
    (128, 128, 128),  # text lines
    (0, 0, 128),      # lens rim
    (214, 236, 255),  # glass
    (40, 96, 176),    # text lines seen through the glass
    (112, 72, 32),    # handle
    (168, 168, 168),  # page shadow
]
BACKGROUND, OUTLINE, PAPER, TEXT, RIM, GLASS, LENS_TEXT, HANDLE, SHADOW = range(len(PALETTE))

BI_RLE8 = 1
AVIF_HASINDEX = 0x10
AVIIF_KEYFRAME = 0x10


def rect(img, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(SIZE, y1)):
        for x in range(max(0, x0), min(SIZE, x1)):
            img[y][x] = colour


def page(img, left, top):
    """A 12x17 sheet with a folded corner, a shadow and four lines of text."""
    width, height, fold = 12, 17, 4
    rect(img, left + 1, top + 1, left + width + 1, top + height + 1, SHADOW)
    rect(img, left, top, left + width, top + height, OUTLINE)
    rect(img, left + 1, top + 1, left + width - 1, top + height - 1, PAPER)
    for i in range(fold):  # the folded corner: cut away, then its crease
        rect(img, left + width - fold + i, top, left + width, top + i + 1, BACKGROUND)
        img[top + i][left + width - fold + i] = OUTLINE
    rect(img, left + width - fold, top + fold - 1, left + width, top + fold, OUTLINE)
    for row in range(4):
        y = top + 6 + row * 3
        rect(img, left + 2, y, left + width - 2 - (row % 2) * 3, y + 1, TEXT)


def magnifier(img, cx, cy):
    """A lens of radius 5.5 with a rim, glass that tints what lies under it, and a handle."""
    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if d <= 4.0:
                img[y][x] = LENS_TEXT if img[y][x] in (TEXT, OUTLINE) else GLASS
            elif d <= 5.5:
                img[y][x] = RIM
    for step in range(10):  # the handle leaves the rim to the lower right, two pixels thick
        t = 5.0 + step * 0.5
        x, y = int(cx + t * 0.7071), int(cy + t * 0.7071)
        for dx, dy in ((0, 0), (1, 0), (0, 1)):
            if 0 <= x + dx < SIZE and 0 <= y + dy < SIZE:
                img[y + dy][x + dx] = HANDLE


def frame(index):
    img = [[BACKGROUND] * SIZE for _ in range(SIZE)]
    page(img, 2, 7)
    page(img, 17, 7)
    angle = 2 * math.pi * index / FRAMES
    magnifier(img, 15.5 + 7.5 * math.cos(angle), 14.5 + 5.0 * math.sin(angle))
    return img


def rle8_row(pixels):
    """One row in BI_RLE8: runs of equal pixels as (count, colour) pairs, mixed stretches of
    three or more pixels in absolute mode (padded to a 16-bit boundary)."""
    out = bytearray()
    i, n = 0, len(pixels)
    while i < n:
        run = 1
        while i + run < n and run < 255 and pixels[i + run] == pixels[i]:
            run += 1
        if run >= 2:
            out += bytes((run, pixels[i]))
            i += run
            continue
        end = i + 1  # a mixed stretch ends where a run of two begins
        while end < n and end - i < 255 and not (end + 1 < n and pixels[end] == pixels[end + 1]):
            end += 1
        if end - i >= 3:
            out += bytes((0, end - i)) + bytes(pixels[i:end]) + (b'\0' if (end - i) % 2 else b'')
        else:
            for p in pixels[i:end]:
                out += bytes((1, p))
        i = end
    return bytes(out)


def rle8(img):
    """A whole frame: rows bottom-up, each closed by end-of-line, the last by end-of-bitmap."""
    rows = [rle8_row(img[y]) for y in reversed(range(SIZE))]
    return b'\0\0'.join(rows) + b'\0\1'


def chunk(fourcc, data):
    return fourcc + struct.pack('<I', len(data)) + data + (b'\0' if len(data) % 2 else b'')


def riff_list(kind, fourcc, items):
    data = fourcc + b''.join(items)
    return kind + struct.pack('<I', len(data)) + data


def avi(frames):
    largest = max(len(f) for f in frames)
    per_second = -(-largest * 1000000 // MICROSECONDS_PER_FRAME)
    main_header = struct.pack('<10I4I', MICROSECONDS_PER_FRAME, per_second, 0, AVIF_HASINDEX, FRAMES, 0, 1,
                              largest, SIZE, SIZE, 0, 0, 0, 0)
    # fccHandler 0: the control draws RLE8 itself; scale/rate give 17 frames a second.
    stream_header = struct.pack('<4s4sIHHIIIIIIII4h', b'vids', b'\0\0\0\0', 0, 0, 0, 0, MICROSECONDS_PER_FRAME,
                                1000000, 0, FRAMES, largest, 0xFFFFFFFF, 0, 0, 0, SIZE, SIZE)
    # biSizeImage is the length the decoders read from each frame's buffer: never 0 for RLE.
    format_header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE, 1, 8, BI_RLE8, largest, 0, 0, len(PALETTE), 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    header_list = riff_list(b'LIST', b'hdrl', [
        chunk(b'avih', main_header),
        riff_list(b'LIST', b'strl', [chunk(b'strh', stream_header), chunk(b'strf', format_header + palette)]),
    ])
    movie, index, offset = [], [], 4  # index offsets count from the 'movi' type code
    for data in frames:
        movie.append(chunk(b'00dc', data))
        index.append(struct.pack('<4sIII', b'00dc', AVIIF_KEYFRAME, offset, len(data)))
        offset += len(movie[-1])
    return riff_list(b'RIFF', b'AVI ', [header_list, riff_list(b'LIST', b'movi', movie), chunk(b'idx1', b''.join(index))])


def main(path):
    with open(path, 'wb') as f:
        f.write(avi([rle8(frame(i)) for i in range(FRAMES)]))


if __name__ == '__main__':
    main(sys.argv[1])
