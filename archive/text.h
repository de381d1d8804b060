// Bounded text helpers for the fixed TEXT_SIZE buffers, and a formatter that substitutes
// only the placeholders a message may carry. Archive texts are data, not format strings:
// a stray %n or a %s without an argument is printed, never interpreted.
#ifndef QUILL_ARCHIVE_TEXT_H
#define QUILL_ARCHIVE_TEXT_H

#include "format.h"

u32 TextLength(const char* text);
// The characters of a UTF-8 text: its bytes less the continuation bytes.
u32 TextCharacters(const char* text);
// Copies text into destination of capacity bytes, cut to fit; always terminated.
char* CopyText(char* destination, const char* text, u32 capacity);
// Appends text, cut to fit the capacity; always terminated.
char* AppendText(char* destination, const char* text, u32 capacity);
// The same into a TEXT_SIZE buffer, the common case: in the installer one call with one
// argument less at each of its many uses.
char* CopyText(char* destination, const char* text);
char* AppendText(char* destination, const char* text);
// Appends the decimal digits of value.
char* AppendNumber(char* destination, u32 value, u32 capacity);
// Copies path into directory (TEXT_SIZE bytes) cut at its last backslash.
void DirectoryOfPath(const char* path, char* directory);
// Drops one trailing backslash of path, in place.
void DropTrailingBackslash(char* path);
// Lower-cases ASCII letters in place.
void LowerText(char* text);

// One argument of FormatText: a string for %s, a number for %i, %d, %u and %lu.
struct FormatArgument {
    const char* text;  // 0 for a number
    u32 number;
};
// Writes format into destination (capacity bytes), replacing %s, %i, %d, %u and %lu by the
// arguments in order and %% by %. A placeholder whose argument is missing or of the other
// kind becomes empty; anything else after a % is copied as it stands. Cut to fit.
char* FormatText(char* destination, u32 capacity, const char* format,
                 const FormatArgument* arguments, u32 argumentCount);
// Shorthands for the common single-argument cases.
char* FormatWithText(char* destination, u32 capacity, const char* format, const char* text);
char* FormatWithNumber(char* destination, u32 capacity, const char* format, u32 number);

#endif
