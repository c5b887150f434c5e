#!/usr/bin/env python3
"""Turns the 24-bit BMP screenshots of calbrune_drive into PNG files beside
them and removes the BMP files. Usage: bmp-to-png.py FILE.bmp..."""
import os
import struct
import sys
import zlib


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def convert(path):
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if data[:2] != b"BM" or bits != 24:
        sys.exit(f"{path}: not a 24-bit BMP file")
    stride = (width * 3 + 3) & ~3
    rows = bytearray()
    for y in range(abs(height)):
        # Bottom-up unless the height is negative; BGR to RGB.
        start = offset + (abs(height) - 1 - y if height > 0 else y) * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(bgr)
        rgb[0::3], rgb[2::3] = bgr[2::3], bgr[0::3]
        rows += b"\0" + rgb
    header = struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
           chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))
    with open(path[:-4] + ".png", "wb") as out:
        out.write(png)
    os.remove(path)


for name in sys.argv[1:]:
    convert(name)
