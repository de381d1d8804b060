#!/usr/bin/env python3
"""Reads an installer's icon back with tools that are not quill's and compares it with the
.ico it was packed from: wrestool (icoutils) extracts icon group 101 as an .ico, icotool
lists its sizes, which must be the ones given, and every image must show the source's
pixels: a bitmap is the source's very bytes, a PNG decodes (zlib, filters undone here) to
the source image's pixels, its AND mask as alpha where it has no alpha of its own.

    tests/icon_check.py INSTALLER SOURCE.ico 16,32,48,256

Exits 0 when all holds, 1 naming what does not."""
import re
import struct
import subprocess
import sys
import tempfile
import zlib


def entries(ico):
    count = struct.unpack_from("<H", ico, 4)[0]
    out = []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
        out.append((w or 256, h or 256, ico[offset:offset + size]))
    return out


def png_pixels(data):
    """RGBA rows of an 8-bit RGB or RGBA PNG, as bytes."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        if zlib.crc32(kind + body) != struct.unpack_from(">I", data, at + 8 + length)[0]:
            raise ValueError(f"chunk {kind} fails its CRC")
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError(f"a PNG of depth {depth}, colour type {colour}, interlace {interlace}")
    channels = 4 if colour == 6 else 3
    raw, stride = zlib.decompress(idat), width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = previous[x]
            c = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line) if channels == 4 else
                    b"".join(bytes(line[i:i + 3]) + b"\xff" for i in range(0, stride, 3)))
        previous = line
    return width, height, b"".join(rows)


def bitmap_pixels(data):
    """RGBA rows (top first) of a BI_RGB icon bitmap of 1 to 32 bits."""
    size, width, height2, _, bits, compression = struct.unpack_from("<IiiHHI", data, 0)
    used = struct.unpack_from("<I", data, 32)[0]
    assert size == 40 and compression == 0, "not a plain bitmap"
    height = height2 // 2
    colours = (used or 1 << bits) if bits <= 8 else 0
    stride, mask_stride = (width * bits + 31) // 32 * 4, (width + 31) // 32 * 4
    pixels = 40 + 4 * colours
    mask = pixels + stride * height
    has_alpha = bits == 32 and any(data[pixels + i * 4 + 3] for i in range(width * height))
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = data[pixels + y * stride:]
        for x in range(width):
            if bits >= 24:
                b, g, r = row[x * bits // 8: x * bits // 8 + 3]
                a = row[x * 4 + 3] if bits == 32 else 0
            else:
                index = (row[x * bits // 8] >> (8 - bits - x * bits % 8)) & ((1 << bits) - 1)
                b, g, r = data[40 + 4 * index: 43 + 4 * index]
            if not has_alpha:
                a = 0 if data[mask + y * mask_stride + x // 8] & (0x80 >> x % 8) else 255
            out += bytes((r, g, b, a))
    return width, height, bytes(out)


def pixels(data):
    return png_pixels(data) if data[:4] == b"\x89PNG" else bitmap_pixels(data)


def main():
    installer, source_path, sizes = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3].split(",")]
    source = {(w, h): data for w, h, data in entries(open(source_path, "rb").read())}
    problems = []
    with tempfile.NamedTemporaryFile(suffix=".ico") as out:
        subprocess.run(["wrestool", "-x", "--type=14", "--name=101", "-o", out.name, installer], check=True)
        listed = subprocess.run(["icotool", "-l", out.name], check=True, capture_output=True, text=True).stdout
        found = [int(w) for w in re.findall(r"--width=(\d+)", listed)]
        if found != sizes:
            problems.append(f"icotool -l lists the sizes {found}, expected {sizes}")
        decoded = 0
        for w, h, data in entries(open(out.name, "rb").read()):
            original = source.get((w, h))
            if original is None:
                problems.append(f"{w}x{h}: not in {source_path}")
            elif data[:4] != b"\x89PNG":
                if data != original:
                    problems.append(f"{w}x{h}: a bitmap, but not the source's bytes")
            elif pixels(data) != pixels(original):
                problems.append(f"{w}x{h}: the PNG does not decode to the source's pixels")
            else:
                decoded += 1
    for p in problems:
        print("icon_check:", p)
    print(f"icon_check: {len(found)} images {found}, {decoded} PNG decoded to the source's pixels")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
