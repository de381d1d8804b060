#include "desktop_text.h"

#include "../archive/text.h"

void SanitiseFileName(char* name)
{
    for (; *name; name++) {
        unsigned char c = (unsigned char)*name;
        for (const char* bad = "\\/:*?\"<>|"; *bad; bad++)
            if (c == (unsigned char)*bad)
                c = 0;
        if (c < ' ')
            *name = '_';
    }
}

static const char* SkipBlanks(const char* text)
{
    while (*text == ' ')
        text++;
    return text;
}

void SplitItemText(const char* text, char* target, char* arguments, int (*exists)(const char* path))
{
    const char* rest = "";  // where the arguments start, blanks before them included
    if (text[0] == '"') {
        const char* end = text + 1;
        while (*end && *end != '"')
            end++;
        u32 length = (u32)(end - text - 1);
        CopyText(target, text + 1, length + 1 < (u32)TEXT_SIZE ? length + 1 : (u32)TEXT_SIZE);
        rest = *end ? end + 1 : end;
    } else {
        CopyText(target, text);
        // The whole text, then shorter and shorter parts up to a blank, the longest first;
        // each blank is put back after its part, so that the whole text is left when none
        // names a file.
        if (!exists(target))
            for (u32 length = TextLength(target); length > 0; length--) {
                if (target[length] != ' ')
                    continue;
                target[length] = 0;
                if (exists(target)) {
                    rest = text + length;
                    break;
                }
                target[length] = ' ';
            }
    }
    CopyText(arguments, SkipBlanks(rest));
}

void ParentFolder(char* folder, const char* path)
{
    CopyText(folder, path);
    u32 cut = 0;
    for (u32 i = 0; folder[i]; i++)
        if (folder[i] == '\\')
            cut = i;
    // C:\tool.exe is run from C:\, not from the drive's current directory.
    if (cut == 2 && folder[1] == ':')
        cut++;
    folder[cut] = 0;
}

int ScaleForDpi(int value, u32 dpi)
{
    // No 64-bit division: the installer links no runtime that has one.
    return (value * (int)dpi + 48) / 96;
}
