#!/usr/bin/env python3
"""Writes installer.ico: one 32x32 image in the 16 VGA colours, a blue box with a white
quill stroke and a yellow nib. Run it again after changing the picture; the .ico is kept
in the repository so that the build needs no Python."""
import struct
import sys

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


def icon(rows):
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up, as bitmaps are stored
        for x in range(0, SIZE, 2):
            high, low = (row[x] or 0), (row[x + 1] or 0)
            xor.append(high << 4 | low)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(xor) + len(mask),
                         0, 0, 16, 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + colours + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "installer.ico"
    with open(out, "wb") as f:
        f.write(icon(picture()))
