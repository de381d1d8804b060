// The string block's extension (format.h draws it): what an archive asks for beyond the
// fixed entries, the group items and the messages. One reader for the installer, the
// uninstaller's packer, the tools and the tests.
#ifndef QUILL_ARCHIVE_EXTENSION_H
#define QUILL_ARCHIVE_EXTENSION_H

#include "format.h"

// Texts of the additions beyond the uninstaller's (200 to 206), stored as text.N.
enum {
    TEXT_CANT_CREATE_SHORTCUT = 210  // a shortcut or the group folder; %s its name
};

// The offset of the first extension entry in a string block of size bytes, or 0 when
// the block carries no sound trailer (every archive written before the extension). The
// entries then run from that offset up to the trailer, each NUL-ended.
u32 FindExtension(const char* block, u32 size);

// The extension's entries in order, for a reader that shows them all: with at 0 the
// first entry's offset, else the offset of the entry behind the one at at; 0 when there
// is none (no extension, or at was the last).
u32 NextExtensionEntry(const char* block, u32 size, u32 at);

// The value of key in the block's extension, pointing into the block; 0 when the block
// has no extension or the key is absent. The first entry of a key counts.
const char* ExtensionValueIn(const char* block, u32 size, const char* key);

// The value of text.<id>, or 0.
const char* ExtensionTextIn(const char* block, u32 size, u32 id);

// The same for the installer's string block (context.stringBlock); 0 before OpenArchive.
const char* ExtensionValue(const char* key);
const char* ExtensionText(u32 id);

// A decimal value, as codepage=N carries it; 0 when value is 0, empty or not a number.
u32 ExtensionNumber(const char* value);

#endif
