#!/usr/bin/env python3
"""Writes the folder browser's eleven 16x16 bitmaps (103.bmp ... 113.bmp) from the text art
below; the build runs it, so the pictures are kept only as this text. The pictures take
their colours from the standard 16-colour set, stored with the colours they use only; the
masks are stored with one bit a pixel.

    make_bitmaps.py OUTDIR

A picture is drawn through its mask: the mask is copied with AND (black where the picture
shows, white where the background stays), then the picture with OR. So a picture is black
wherever its mask is white; '.' below is such a pixel. The masks are derived from the art:
104 is the band of rows 3 to 11 that every drive picture fills, 105 the closed folder's
outline, 106 the outline shared by both open folders. A one-bit mask is drawn black and white only if the
target's text colour is black and its background colour white when it is copied."""
import os
import struct
import sys

COLOURS = {  # letter: (red, green, blue), from the standard 16-colour set
    'K': (0, 0, 0), 'r': (128, 0, 0), 'n': (0, 128, 0), 'y': (128, 128, 0), 'b': (0, 0, 128),
    'm': (128, 0, 128), 'c': (0, 128, 128), 'G': (192, 192, 192), 'g': (128, 128, 128),
    'R': (255, 0, 0), 'N': (0, 255, 0), 'Y': (255, 255, 0), 'B': (0, 0, 255),
    'M': (255, 0, 255), 'C': (0, 255, 255), 'W': (255, 255, 255)}
COLOURS['.'] = COLOURS['K']  # outside the mask: black, so that OR leaves the background

BLANK = "................"
BAND = range(3, 12)  # the rows of a drive picture

DRIVES = {
    109: [  # hard disk: a grey case with a green light
        "KKKKKKKKKKKKKKKK",
        "KWWWWWWWWWWWWWWK",
        "KWGGGGGGGGGGGGgK",
        "KWGGGGGGGGGGGGgK",
        "KWGGGGGGGGGGNNgK",
        "KWGGGGGGGGGGGGgK",
        "KWGGGGGGGGGGGGgK",
        "KggggggggggggggK",
        "KKKKKKKKKKKKKKKK"],
    108: [  # removable drive: a slot across the front
        "KKKKKKKKKKKKKKKK",
        "KWWWWWWWWWWWWWWK",
        "KWGGGGGGGGGGGGgK",
        "KWGGKKKKKKKKGGgK",
        "KWGGgWWWWWWWGGgK",
        "KWGGGGGGGGGGGGgK",
        "KWGGGGGGGGGGNNgK",
        "KggggggggggggggK",
        "KKKKKKKKKKKKKKKK"],
    103: [  # CD-ROM drive: a disc and a red light
        "KKKKKKKKKKKKKKKK",
        "KWWWWWWWWWWWWWWK",
        "KWGGCCCGGGGGGGgK",
        "KWGCWWWCGGGGGGgK",
        "KWGCWKWCGGGGRRgK",
        "KWGCWWWCGGGGGGgK",
        "KWGGCCCGGGGGGGgK",
        "KggggggggggggggK",
        "KKKKKKKKKKKKKKKK"],
    110: [  # network drive: a cable with a plug
        "KKKKKKKKKKKKKKKK",
        "KWWWWWWWWWWWWWWK",
        "KWGGGGGGGGGGGGgK",
        "KWGGGGGGKKKGGGgK",
        "KbbbbbbbKYYKKKgK",
        "KWGGGGGGKKKGGGgK",
        "KWGGGGGGGGGGNNgK",
        "KggggggggggggggK",
        "KKKKKKKKKKKKKKKK"],
    111: [  # RAM disk: a dotted face
        "KKKKKKKKKKKKKKKK",
        "KWWWWWWWWWWWWWWK",
        "KWGnGnGnGnGnGGgK",
        "KWnGnGnGnGnGGGgK",
        "KWGnGnGnGnGnGGgK",
        "KWnGnGnGnGnGGGgK",
        "KWGnGnGnGnGnNNgK",
        "KggggggggggggggK",
        "KKKKKKKKKKKKKKKK"],
}

FOLDERS = {
    107: [  # closed folder, yellow and white
        BLANK,
        BLANK,
        "..KKKKK.........",
        ".KWYWYWK........",
        ".KKKKKKKKKKKKK..",
        ".KWWWWWWWWWWWYK.",
        ".KWYYYYYYYYYYyK.",
        ".KWYYYYYYYYYYyK.",
        ".KWYYYYYYYYYYyK.",
        ".KWYYYYYYYYYYyK.",
        ".KWYYYYYYYYYYyK.",
        ".KWYYYYYYYYYYyK.",
        ".KyyyyyyyyyyyyK.",
        ".KKKKKKKKKKKKKK.",
        BLANK,
        BLANK],
    112: [  # open folder, yellow and white
        BLANK,
        BLANK,
        ".KKKKK..........",
        "KWYWYWK.........",
        "KWYYYYKKKKKKK...",
        "KWYWWWWWWWWWK...",
        "KWYWKKKKKKKKKKKK",
        "KWYKWWWWWWWWWWK.",
        "KWYKWYYYYYYYYYK.",
        "KWKWYYYYYYYYYK..",
        "KWKWYYYYYYYYYK..",
        "KKWYYYYYYYYYK...",
        "KKWYYYYYYYYYK...",
        "KKKKKKKKKKKKK...",
        BLANK,
        BLANK],
    113: [  # open folder with a yellow and grey front: the current folder
        BLANK,
        BLANK,
        ".KKKKK..........",
        "KWYWYWK.........",
        "KWYYYYKKKKKKK...",
        "KWYWWWWWWWWWK...",
        "KWYWKKKKKKKKKKKK",
        "KWYKGYGYGYGYGYK.",
        "KWYKYGYGYGYGYGK.",
        "KWKGYGYGYGYGYK..",
        "KWKYGYGYGYGYGK..",
        "KKGYGYGYGYGYK...",
        "KKYGYGYGYGYGK...",
        "KKKKKKKKKKKKK...",
        BLANK,
        BLANK],
}


def drive(rows):
    art = [BLANK] * 16
    for y, row in zip(BAND, rows):
        art[y] = row
    return art


def outline(*pictures):
    """The mask of pictures: black ('K') where any of them shows, white elsewhere."""
    return ["".join('K' if any(p[y][x] != '.' for p in pictures) else 'W' for x in range(16))
            for y in range(16)]


def pictures():
    images = {number: drive(rows) for number, rows in DRIVES.items()}
    images.update(FOLDERS)
    images[104] = ["KKKKKKKKKKKKKKKK" if y in BAND else "WWWWWWWWWWWWWWWW" for y in range(16)]
    images[105] = outline(FOLDERS[107])
    images[106] = outline(FOLDERS[112], FOLDERS[113])
    masks = {103: 104, 108: 104, 109: 104, 110: 104, 111: 104, 107: 105, 112: 106, 113: 106}
    for number, art in images.items():
        assert len(art) == 16 and all(len(row) == 16 for row in art), number
        assert all(c in COLOURS for row in art for c in row), number
    for number, mask in masks.items():
        for y in range(16):
            for x in range(16):
                # Outside its mask a picture must be black, or it would tint the background.
                assert images[mask][y][x] == 'K' or images[number][y][x] == '.', (number, x, y)
    return images


MASKS = (104, 105, 106)


def bitmap(art, mask):
    pixels = bytearray()
    if mask:  # one bit a pixel, rows of four bytes: 0 black, 1 white
        palette = [COLOURS['K'], COLOURS['W']]
        for row in reversed(art):  # bottom-up, as bitmaps are stored
            bits = sum(1 << (15 - x) for x in range(16) if row[x] == 'W')
            pixels += struct.pack(">HH", bits, 0)
        depth = 1
    else:  # four bits a pixel, the colours used in the order met
        palette = []
        for row in art:
            for c in row:
                if COLOURS[c] not in palette:
                    palette.append(COLOURS[c])
        for row in reversed(art):
            for x in range(0, 16, 2):
                pixels.append(palette.index(COLOURS[row[x]]) << 4 | palette.index(COLOURS[row[x + 1]]))
        depth = 4
    info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, depth, 0, len(pixels), 0, 0, len(palette), 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + len(info) + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + colours + bytes(pixels)


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    for number, art in sorted(pictures().items()):
        data = bitmap(art, number in MASKS)
        path = os.path.join(out, "%d.bmp" % number)
        # Unchanged pictures keep their time stamps: no needless resource rebuild.
        if not os.path.exists(path) or open(path, "rb").read() != data:
            with open(path, "wb") as f:
                f.write(data)
