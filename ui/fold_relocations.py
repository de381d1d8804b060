#!/usr/bin/env python3
"""Moves the base relocation table from its own section (.reloc, which ld writes last) to the
end of the code section, when that saves a file block: each section is padded to a whole
block in the file, and two paddings may come to more than one block. The loader finds the
table by its data directory entry alone, whatever section holds it.

    fold_relocations.py FILE

Rewrites FILE in place: the table follows the code's last byte (at a 4-byte boundary), the
code section grows by it in memory and in the file, the sections behind it in the file move
down, the .reloc section goes, the directory entry points at the table's new place, and
SizeOfImage and the checksum are computed again. The table's bytes are copied unchanged.
Leaves FILE as it is when no block would be saved; refuses (exit 1, FILE untouched) an
image it does not expect: one whose .reloc is not the last section, whose table is not the
whole of it, or whose code section has no room in memory for the table; and one that calls
through its import address table at a place the table does not fix."""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from drop_dos_stub import checksum, pe_signature  # noqa: E402

SECTION_HEADER_SIZE = 40
SECURITY_DIRECTORY, BASE_RELOCATION_DIRECTORY = 4, 5


def round_up(value, alignment):
    return -(-value // alignment) * alignment


def check_import_calls(image, optional, code, table, fail):
    """Every call or jump through the import address table names an absolute address, which
    the loader must fix when it moves the program. ld leaves out those of an import
    library's own jumps under this linker script, so none may be left in the code."""
    fixed = set()
    at = 0
    while at + 8 <= len(table):
        page, length = struct.unpack_from("<II", table, at)
        if length < 8 or at + length > len(table):
            fail("a base relocation block of %d bytes" % length)
        for (entry,) in struct.iter_unpack("<H", table[at + 8:at + length]):
            if entry >> 12 == 3:  # IMAGE_REL_BASED_HIGHLOW
                fixed.add(page + (entry & 0xFFF))
        at += length
    base = struct.unpack_from("<I", image, optional + 28)[0]
    iat, iat_size = struct.unpack_from("<II", image, optional + 96 + 8 * 12)
    code_bytes = image[code[4]:code[4] + code[1]]
    for k in range(len(code_bytes) - 5):
        if code_bytes[k] == 0xFF and code_bytes[k + 1] in (0x15, 0x25):
            target = struct.unpack_from("<I", code_bytes, k + 2)[0] - base
            if iat <= target < iat + iat_size and code[2] + k + 2 not in fixed:
                fail("the import call at %#x has no base relocation: declare the function "
                     "__declspec(dllimport)" % (base + code[2] + k))


def main(path):
    image = bytearray(open(path, "rb").read())

    def fail(why):
        sys.exit("fold_relocations.py: %s: %s" % (path, why))

    pe = pe_signature(image, fail)
    count = struct.unpack_from("<H", image, pe + 6)[0]
    optional = pe + 24
    table = optional + struct.unpack_from("<H", image, pe + 20)[0]
    section_alignment, file_alignment = struct.unpack_from("<II", image, optional + 32)
    directories = struct.unpack_from("<I", image, optional + 92)[0]
    if directories <= BASE_RELOCATION_DIRECTORY:
        fail("no base relocation directory entry")
    if any(struct.unpack_from("<II", image, optional + 96 + 8 * SECURITY_DIRECTORY)):
        fail("the image is signed")
    entry = optional + 96 + 8 * BASE_RELOCATION_DIRECTORY

    # name, virtual size, address, raw size, raw offset, header offset
    sections = []
    for i in range(count):
        at = table + i * SECTION_HEADER_SIZE
        name = bytes(image[at:at + 8]).rstrip(b"\0").decode("latin-1")
        size, address, raw_size, raw_at = struct.unpack_from("<IIII", image, at + 8)
        sections.append([name, size, address, raw_size, raw_at, at])
    names = [s[0] for s in sections]
    if ".text" not in names or ".reloc" not in names:
        print("fold_relocations.py: no .reloc to fold")
        return
    code, relocs = sections[names.index(".text")], sections[names.index(".reloc")]
    if relocs is not sections[-1] or any(s[2] > relocs[2] or s[4] > relocs[4] for s in sections[:-1]):
        fail(".reloc is not the last section")
    if relocs[4] + relocs[3] != len(image):
        fail("something follows .reloc in the file")
    address, size = struct.unpack_from("<II", image, entry)
    if address != relocs[2] or not 0 < size <= min(relocs[1], relocs[3]):
        fail("the base relocation table is not where .reloc is")
    if code[1] > code[3]:
        fail(".text is longer in memory than in the file")

    table_bytes = bytes(image[relocs[4]:relocs[4] + size])
    check_import_calls(image, optional, code, table_bytes, fail)

    at = round_up(code[1], 4)
    new_size = at + size
    new_raw_size = round_up(new_size, file_alignment)
    following = min((s[2] for s in sections if s[2] > code[2]), default=None)
    if following is not None and code[2] + new_size > following:
        fail(".text has no room in memory for the table")
    moved = new_raw_size - code[3]
    if new_raw_size >= code[3] + relocs[3]:
        print("fold_relocations.py: no file block would be saved")
        return

    out = bytearray(image[:code[4] + code[1]])
    out += bytes(at - code[1])
    out += table_bytes
    out += bytes(new_raw_size - new_size)
    out += image[code[4] + code[3]:relocs[4]]

    struct.pack_into("<II", out, code[5] + 8, new_size, code[2])
    struct.pack_into("<I", out, code[5] + 16, new_raw_size)
    for s in sections:
        if s is not code and s is not relocs and s[4] > code[4]:
            struct.pack_into("<I", out, s[5] + 20, s[4] + moved)
    out[relocs[5]:relocs[5] + SECTION_HEADER_SIZE] = bytes(SECTION_HEADER_SIZE)
    struct.pack_into("<H", out, pe + 6, count - 1)
    struct.pack_into("<II", out, entry, code[2] + at, size)
    # SizeOfCode follows the code section; SizeOfInitializedData loses .reloc.
    size_of_code, initialized = struct.unpack_from("<II", out, optional + 4)
    struct.pack_into("<II", out, optional + 4, size_of_code + moved, max(initialized - relocs[3], 0))
    last = max((s for s in sections if s is not relocs), key=lambda s: s[2])
    last_size = new_size if last is code else last[1]
    struct.pack_into("<I", out, optional + 56, round_up(last[2] + max(last_size, 1), section_alignment))

    struct.pack_into("<I", out, optional + 64, checksum(out, optional + 64))
    open(path, "wb").write(out)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
