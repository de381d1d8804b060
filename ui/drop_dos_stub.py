#!/usr/bin/env python3
"""Drops the DOS program that ld writes in front of the PE headers ("This program cannot be
run in DOS mode"): the headers then start right after the 64-byte DOS header, and with the
installer's five sections they fit in one 512-byte file block instead of two.

    drop_dos_stub.py FILE

Rewrites FILE in place: e_lfanew becomes 64, the PE headers and the section table move
down, the sections' file offsets and SizeOfHeaders shrink by what the headers gave back,
and the checksum is computed again. Leaves FILE as it is when no file block would be
saved; refuses (exit 1, FILE untouched) an image it does not expect: one with a symbol
table, a certificate table, a debug directory or data between the headers and the first
section."""
import struct
import sys

DOS_HEADER_SIZE = 64
SECTION_HEADER_SIZE = 40
SECURITY_DIRECTORY, DEBUG_DIRECTORY = 4, 6


def checksum(image, checksum_offset):
    """The PE checksum: 16-bit one's-complement sum of the file, the field counted as 0, plus
    the file's length."""
    data = bytearray(image)
    data[checksum_offset:checksum_offset + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", bytes(data)):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total & 0xFFFF) + len(image)


def pe_signature(image, fail):
    """The offset of a PE32 image's signature; fail(why) for anything else."""
    if image[:2] != b"MZ":
        fail("no DOS header")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        fail("no PE signature")
    if struct.unpack_from("<H", image, pe + 24)[0] != 0x10B:
        fail("not a PE32 image")
    return pe


def main(path):
    image = bytearray(open(path, "rb").read())

    def fail(why):
        sys.exit("drop_dos_stub.py: %s: %s" % (path, why))

    pe = pe_signature(image, fail)
    sections, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    symbols = struct.unpack_from("<I", image, pe + 12)[0]
    optional = pe + 24
    file_alignment = struct.unpack_from("<I", image, optional + 36)[0]
    headers_size = struct.unpack_from("<I", image, optional + 60)[0]
    directories = struct.unpack_from("<I", image, optional + 92)[0]
    table = optional + optional_size
    end = table + sections * SECTION_HEADER_SIZE
    if symbols:
        fail("a symbol table points into the file")
    for entry in (SECURITY_DIRECTORY, DEBUG_DIRECTORY):
        if entry < directories and any(struct.unpack_from("<II", image, optional + 96 + 8 * entry)):
            fail("a certificate table or a debug directory is there")
    if end > headers_size or any(image[end:headers_size]):
        fail("something lies between the headers and the first section")

    new_end = DOS_HEADER_SIZE + end - pe
    new_headers_size = -(-new_end // file_alignment) * file_alignment
    if new_headers_size >= headers_size:
        print("drop_dos_stub.py: the headers take %d bytes either way" % headers_size)
        return
    moved = headers_size - new_headers_size
    for i in range(sections):
        at = table + i * SECTION_HEADER_SIZE + 20  # PointerToRawData
        offset = struct.unpack_from("<I", image, at)[0]
        if offset and offset < headers_size:
            fail("a section starts inside the headers")
        if offset:
            struct.pack_into("<I", image, at, offset - moved)
    struct.pack_into("<I", image, optional + 60, new_headers_size)

    out = bytearray(image[:DOS_HEADER_SIZE])
    struct.pack_into("<I", out, 0x3C, DOS_HEADER_SIZE)
    out += image[pe:end]
    out += bytes(new_headers_size - len(out))
    out += image[headers_size:]
    checksum_offset = DOS_HEADER_SIZE + optional - pe + 64
    struct.pack_into("<I", out, checksum_offset, checksum(out, checksum_offset))
    open(path, "wb").write(out)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
