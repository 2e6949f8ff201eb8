#!/usr/bin/env python3
"""Converts the 24-bit BMP screenshots of kestrune-try --steps into PNG files beside them
(removing the BMPs), with nothing but the standard library."""
import os
import struct
import sys
import zlib


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def convert(bmp_path):
    with open(bmp_path, "rb") as bmp:
        data = bmp.read()
    if data[:2] != b"BM":
        sys.exit("not a BMP file: " + bmp_path)
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24 or width <= 0 or height == 0:
        sys.exit("not a 24-bit BMP: " + bmp_path)
    stride = (width * 3 + 3) & ~3
    rows = bytearray()
    for y in range(abs(height)):
        source = height - 1 - y if height > 0 else y  # BMP rows run bottom-up
        line = data[offset + source * stride: offset + source * stride + width * 3]
        rows.append(0)  # no filter
        rows += swap_bgr(line)
    header = struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)
    png_path = bmp_path[:-4] + ".png"
    with open(png_path, "wb") as png:
        png.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
                  png_chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + png_chunk(b"IEND", b""))
    return png_path


def swap_bgr(line):
    pixels = bytearray(line)
    pixels[0::3], pixels[2::3] = line[2::3], line[0::3]
    return pixels


if __name__ == "__main__":
    for path in sys.argv[1:]:
        convert(path)
        os.remove(path)
