#!/usr/bin/env python3
"""Writes installer.ico: one 32x32 image in the 16 VGA colours, a blue box with a white
quill stroke and a yellow nib, stored as a PNG. Run it again after changing the picture;
the .ico is kept in the repository so that the build needs no Python."""
import struct
import sys
import zlib

PALETTE = [  # (red, green, blue), the standard 16-colour set
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
NAVY, BLUE, YELLOW, WHITE, GREY = 4, 12, 11, 15, 8
SIZE = 32


def picture():
    """Rows top to bottom; None is transparent."""
    rows = [[None] * SIZE for _ in range(SIZE)]
    for y in range(3, 29):
        for x in range(3, 29):
            corner = (x in (3, 28)) and (y in (3, 28))
            if corner:
                continue
            edge = x in (3, 28) or y in (3, 28)
            rows[y][x] = NAVY if edge else BLUE
    # The quill: a white stroke from the upper right to the lower left, shadowed in grey.
    for t in range(17):
        x, y = 23 - t, 7 + t
        for dx in (0, 1):
            rows[y + 1][x + dx + 1] = GREY
        for dx in (0, 1):
            rows[y][x + dx] = WHITE
    for (x, y) in ((6, 24), (7, 24), (6, 25), (7, 25), (5, 26), (6, 26)):
        rows[y][x] = YELLOW
    return rows


def png(rows):
    """The picture as a PNG of the colours it uses, index 0 transparent (tRNS): some 200
    bytes where the 16-colour bitmap with its mask takes 744. Windows reads PNG icon images
    since Vista; quill pack --icon-xp makes it a bitmap again for Windows XP."""
    used = sorted({c for row in rows for c in row if c is not None})
    index = {c: i + 1 for i, c in enumerate(used)}
    raw = bytearray()
    for row in rows:  # top-down, filter 0, two pixels a byte
        raw.append(0)
        for x in range(0, SIZE, 2):
            raw.append(index.get(row[x], 0) << 4 | index.get(row[x + 1], 0))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    colours = bytes(3) + b"".join(bytes(PALETTE[c]) for c in used)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 4, 3, 0, 0, 0)) +
            chunk(b"PLTE", colours) + chunk(b"tRNS", b"\0") + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def icon(rows):
    image = png(rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "installer.ico"
    with open(out, "wb") as f:
        f.write(icon(picture()))
