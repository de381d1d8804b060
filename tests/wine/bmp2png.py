#!/usr/bin/env python3
"""Turns the driver's 32-bit top-down screenshots into PNG files, for looking at them."""
import struct
import sys
import zlib


def convert(source, target):
    data = open(source, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    height = abs(height)
    rows = []
    for y in range(height):
        row = data[offset + y * width * 4: offset + (y + 1) * width * 4]
        rgb = bytearray()
        for x in range(width):
            b, g, r = row[4 * x], row[4 * x + 1], row[4 * x + 2]
            rgb += bytes((r, g, b))
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b"")
    open(target, "wb").write(png)


if __name__ == "__main__":
    convert(sys.argv[1], sys.argv[2])
