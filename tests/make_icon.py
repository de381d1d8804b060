#!/usr/bin/env python3
"""Writes a product icon as Windows applications carry them: the sizes below 256 as 32-bit
bitmaps with alpha, 256 and above as a PNG (zlib level 6, as icon editors write them). The
picture is a shaded disc with a ring and a soft edge; GRAIN, the share of pixels off by one
in each channel, stands for the texture of a real picture and sets how well it compresses.

    tests/make_icon.py OUT.ico 16,32,48,256 [GRAIN]

Prints each image's size and bytes."""
import math
import struct
import sys
import zlib


def picture(n, grain):
    """RGBA rows, top first."""
    state = 12345 + n
    rows = []
    for y in range(n):
        row = bytearray()
        for x in range(n):
            c = (n - 1) / 2
            d = math.hypot(x - c, y - c)
            alpha = max(0.0, min(1.0, n * 0.45 - d + 0.5))
            shade = 0.55 + 0.45 * (1 - (x + y) / (2 * n))
            ring = 1.0 if abs(d - n * 0.27) < n * 0.05 else 0.0
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            off = (state >> 8) % 3 - 1 if (state >> 16) % 1000 < grain * 1000 else 0
            rgb = (40 + 180 * shade * (1 - ring) + 215 * ring, 90 + 120 * shade, 40 + 200 * shade)
            row += bytes([max(0, min(255, int(v) + off)) for v in rgb] + [int(255 * alpha)])
        rows.append(bytes(row))
    return rows


def bitmap(n, rows):
    body = b"".join(b"".join(bytes((r[i + 2], r[i + 1], r[i], r[i + 3])) for i in range(0, 4 * n, 4))
                    for r in reversed(rows))
    mask = b"".join(bytes(((n + 31) // 32) * 4) for _ in range(n))  # alpha carries the shape
    return struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0) + body + mask


def png(n, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def main():
    sizes = [int(s) for s in sys.argv[2].split(",")]
    grain = float(sys.argv[3]) if len(sys.argv) > 3 else 0.0
    images = [(n, png(n, picture(n, grain)) if n >= 256 else bitmap(n, picture(n, grain))) for n in sizes]
    head, offset = struct.pack("<HHH", 0, 1, len(images)), 6 + 16 * len(images)
    for n, image in images:
        head += struct.pack("<BBBBHHII", n & 255, n & 255, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as out:
        out.write(head + b"".join(image for _, image in images))
    for n, image in images:
        print(f"{n}x{n} {'PNG' if n >= 256 else 'bitmap'} {len(image)} bytes")
    print(f"{offset} bytes")


if __name__ == "__main__":
    main()
