#include "shell_text.h"

#include "../archive/messages.h"
#include "../archive/text.h"

int InstallPathFromText(char* installDir, const char* text, const char* current,
                        u32 currentLength)
{
    char joined[2 * TEXT_SIZE];
    if (text[0] == '\\' && text[1] == '\\') {
        CopyText(installDir, text);
        return MSG_CANT_OPEN_DIRECTORY;
    }
    // A text with its drive is taken as it is: appended to nothing.
    joined[0] = 0;
    if (!text[0] || text[1] != ':') {
        if (!currentLength || currentLength > PATH_LENGTH) {
            CopyText(installDir, text);
            return MSG_CANT_OPEN_DIRECTORY;
        }
        u32 length = TextLength(CopyText(joined, current, sizeof(joined)));
        // A leading backslash is joined as it is (it does not mean the drive's root), and
        // no second backslash goes behind a root such as C:\ .
        if (text[0] != '\\' && length && joined[length - 1] != '\\')
            AppendText(joined, "\\", sizeof(joined));
    }
    AppendText(joined, text, sizeof(joined));
    u32 length = TextLength(joined);
    // A bare drive means its root, not the drive's current directory.
    if (length == 2 && joined[1] == ':') {
        joined[2] = '\\';
        joined[3] = 0;
        length = 3;
    }
    // One trailing backslash goes, except the root's own.
    if (length > 3 && joined[length - 1] == '\\')
        joined[--length] = 0;
    CopyText(installDir, joined);
    if (TextCharacters(joined) > PATH_LENGTH || length >= TEXT_SIZE || joined[1] != ':' || joined[2] != '\\')
        return MSG_CANT_OPEN_DIRECTORY;
    return 0;
}

int AppendPathPart(char* path, u32 capacity, const char* name)
{
    u32 length = TextLength(path);
    u32 wanted = length + TextLength(name);
    if (length && path[length - 1] != '\\') {
        AppendText(path, "\\", capacity);
        wanted++;
    }
    return TextLength(AppendText(path, name, capacity)) == wanted;
}

void FolderEntryText(char* entry, u32 capacity, u32 depth, const char* name)
{
    // The digits in place, the name cut behind them.
#pragma GCC unroll 1
    for (u32 i = 3; i--; depth /= 10)
        entry[i] = (char)('0' + depth % 10);
    CopyText(entry + 3, name, capacity - 3);
}

u32 FolderEntryDepth(const char* entry)
{
    u32 depth = 0;
    for (int i = 0; i < 3 && entry[i] >= '0' && entry[i] <= '9'; i++)
        depth = depth * 10 + (u32)(entry[i] - '0');
    return depth;
}

void DriveEntryText(char* entry, u32 capacity, const char* root, const char* suffix)
{
    u32 length = TextLength(CopyText(entry, root, capacity));
    if (length && entry[length - 1] == '\\')
        entry[length - 1] = ' ';
    AppendText(entry, suffix, capacity);
}

static char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c + ('a' - 'A')) : c;
}

int SameDrive(const char* a, const char* b)
{
    return a[0] && Lower(a[0]) == Lower(b[0]) && a[1] && Lower(a[1]) == Lower(b[1]);
}

int JoinItemPath(char* out, u32 capacity, const char* installDir, const char* itemPath)
{
    // The part of the install directory that goes first: none for a text taken as it is.
    u32 length = 0;
    if (itemPath[0] == '\\') {
        length = TextLength(installDir);
        // A root such as C:\ keeps no backslash of its own: C:\ and \prog.exe give C:\prog.exe.
        if (length && installDir[length - 1] == '\\')
            length--;
    }
    if (length + TextLength(itemPath) >= capacity)
        return 0;
    CopyText(out, installDir, length + 1);
    CopyText(out + length, itemPath, capacity - length);
    return 1;
}

u32 PutCommand(char* out, u32 capacity, u32 length, const char* format, const char* first,
               const char* second)
{
    const char* argument = first;
    for (const char* p = format; *p; p++) {
        if (p[0] == '%' && p[1] == 's') {
            for (const char* a = argument; *a; a++, length++)
                if (length < capacity)
                    out[length] = *a;
            argument = second;
            p++;
            continue;
        }
        if (length < capacity)
            out[length] = *p;
        length++;
    }
    return length;
}

u64 FreeThousands(u32 bytesPerSector, u32 sectorsPerCluster, u32 freeClusters)
{
    // The tenth of the 64-bit cluster size without a 64-bit division, which would bring
    // libgcc's (some 300 bytes) into the installer: the high half divided at once, its
    // remainder carried through the low half bit by bit.
    u64 cluster = (u64)bytesPerSector * sectorsPerCluster;
    u32 high = (u32)(cluster >> 32), low = (u32)cluster;
    u32 rest = high % 10, quotient = 0;
    for (int bit = 31; bit >= 0; bit--) {
        rest = rest << 1 | (low >> bit & 1);
        quotient <<= 1;
        if (rest >= 10) {
            rest -= 10;
            quotient |= 1;
        }
    }
    return ((u64)(high / 10) << 32 | quotient) * (freeClusters / 100);
}
