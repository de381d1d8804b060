#include "extension.h"

#include "context.h"
#include "text.h"

// The value of an upper-case hex digit; any other byte gives more than 15.
static u32 HexDigit(char c)
{
    u32 digit = (u8)c - (u32)'0';
    if (digit > 9) {
        digit -= 'A' - '0';  // 'A' to 'F' give 0 to 5, the rest wraps past them
        digit = digit < 6 ? digit + 10 : 16;
    }
    return digit;
}

u32 FindExtension(const char* block, u32 size)
{
    if (!block || size < EXTENSION_TRAILER_SIZE || block[size - 1])
        return 0;
    u32 trailer = size - EXTENSION_TRAILER_SIZE;
    // The trailer is a whole entry of its own: the block's start or a NUL before it.
    if (trailer && block[trailer - 1])
        return 0;
    // The tag's four bytes compared as one word: the copies are loads, the literal's a constant.
    u32 found, tag;
    __builtin_memcpy(&found, block + trailer, 4);
    __builtin_memcpy(&tag, EXTENSION_TRAILER_TAG, 4);
    if (found != tag)
        return 0;
    u32 offset = 0;
    for (const char* hex = block + trailer + 4; hex < block + trailer + 12; hex++) {
        u32 digit = HexDigit(*hex);
        if (digit > 15)
            return 0;
        offset = offset << 4 | digit;
    }
    // The fixed entries come first, and the entries start behind a NUL of their own.
    if (offset == 0 || offset > trailer || block[offset - 1])
        return 0;
    return offset;
}

u32 NextExtensionEntry(const char* block, u32 size, u32 at)
{
    u32 first = FindExtension(block, size);
    if (!first)
        return 0;
    u32 end = size - EXTENSION_TRAILER_SIZE;
    if (at == 0) {
        at = first;
    } else {
        if (at < first || at >= end)
            return 0;
        while (at < end && block[at])
            at++;
        at++;  // past the NUL
    }
    return at < end ? at : 0;
}

const char* ExtensionValueIn(const char* block, u32 size, const char* key)
{
    u32 at = FindExtension(block, size);
    if (!at)
        return 0;
    u32 end = size - EXTENSION_TRAILER_SIZE;
    while (at < end) {
        const char* entry = block + at;
        u32 i = 0;
        while (key[i] && entry[i] == key[i])
            i++;
        if (!key[i] && entry[i] == '=')
            return entry + i + 1;
        // The NUL before the trailer, which FindExtension requires, ends the scan at end.
        while (block[at])
            at++;
        at++;  // past the NUL
    }
    return 0;
}

// The key of text id: "text." and the id in decimal.
static const char* TextKey(char (&key)[24], u32 id)
{
    return FormatWithNumber(key, sizeof(key), KEY_TEXT_PREFIX "%u", id);
}

const char* ExtensionTextIn(const char* block, u32 size, u32 id)
{
    char key[24];
    return ExtensionValueIn(block, size, TextKey(key, id));
}

// Before OpenArchive the block is 0, which FindExtension refuses whatever the size.
const char* ExtensionValue(const char* key)
{
    return ExtensionValueIn(context.stringBlock, context.header.stringBlockSize, key);
}

const char* ExtensionText(u32 id)
{
    char key[24];
    return ExtensionValue(TextKey(key, id));
}

u32 ExtensionNumber(const char* value)
{
    if (!value)
        return 0;
    u32 number = 0;
    for (; *value; value++) {
        if (*value < '0' || *value > '9' || number > 0x0FFFFFFF)
            return 0;
        number = number * 10 + (u32)(*value - '0');
    }
    return number;
}
