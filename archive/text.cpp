#include "text.h"

u32 TextLength(const char* text)
{
    u32 n = 0;
    while (text[n])
        n++;
    return n;
}

u32 TextCharacters(const char* text)
{
    u32 n = 0;
    for (; *text; text++)
        n += ((u8)*text & 0xC0) != 0x80;
    return n;
}

char* CopyText(char* destination, const char* text, u32 capacity)
{
    if (capacity == 0)
        return destination;
    u32 i = 0;
    for (; i + 1 < capacity && text[i]; i++)
        destination[i] = text[i];
    destination[i] = 0;
    return destination;
}

char* AppendText(char* destination, const char* text, u32 capacity)
{
    u32 n = 0;
    while (n < capacity && destination[n])
        n++;
    CopyText(destination + n, text, capacity - n);  // no room left: capacity 0 copies nothing
    return destination;
}

__attribute__((noinline)) char* CopyText(char* destination, const char* text)
{
    return CopyText(destination, text, TEXT_SIZE);
}

__attribute__((noinline)) char* AppendText(char* destination, const char* text)
{
    return AppendText(destination, text, TEXT_SIZE);
}

char* AppendNumber(char* destination, u32 value, u32 capacity)
{
    char digits[12];
    u32 n = sizeof(digits) - 1;
    digits[n] = 0;
    do {
        digits[--n] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    return AppendText(destination, digits + n, capacity);
}

void DropTrailingBackslash(char* path)
{
    u32 n = TextLength(path);
    if (n && path[n - 1] == '\\')
        path[n - 1] = 0;
}

void DirectoryOfPath(const char* path, char* directory)
{
    CopyText(directory, path);
    char* lastSlash = 0;
    for (char* p = directory; *p; p++)
        if (*p == '\\')
            lastSlash = p;
    if (lastSlash)
        *lastSlash = 0;
}

void LowerText(char* text)
{
    for (; *text; text++)
        if (*text >= 'A' && *text <= 'Z')
            *text = (char)(*text + ('a' - 'A'));
}

char* FormatText(char* destination, u32 capacity, const char* format,
                 const FormatArgument* arguments, u32 argumentCount)
{
    if (capacity)
        destination[0] = 0;  // empty; no room at all takes nothing
    u32 next = 0;
    for (const char* p = format; *p; p++) {
        // What one step appends: the character itself, or a placeholder's argument
        // (none when it is missing or of the other kind). %% appends its one %.
        char piece[12];  // the one character, or a number's digits
        piece[0] = *p;
        piece[1] = 0;
        const char* text = piece;
        if (p[0] == '%') {
            char kind = p[1];
            u32 width = kind == 'l' && p[2] == 'u' ? 2 : kind == 's' || kind == 'i' || kind == 'd' || kind == 'u';
            if (kind == '%') {
                p++;
            } else if (width) {
                text = 0;
                if (next < argumentCount) {
                    const FormatArgument* argument = &arguments[next];
                    if (kind == 's') {
                        text = argument->text;
                    } else if (!argument->text) {
                        piece[0] = 0;
                        text = AppendNumber(piece, argument->number, sizeof(piece));
                    }
                }
                next++;
                p += width;
            }
        }
        if (text)
            AppendText(destination, text, capacity);
    }
    return destination;
}

char* FormatWithText(char* destination, u32 capacity, const char* format, const char* text)
{
    FormatArgument argument;  // a text alone: %s reads no number
    argument.text = text ? text : "";
    return FormatText(destination, capacity, format, &argument, 1);
}

char* FormatWithNumber(char* destination, u32 capacity, const char* format, u32 number)
{
    FormatArgument argument = {0, number};
    return FormatText(destination, capacity, format, &argument, 1);
}
