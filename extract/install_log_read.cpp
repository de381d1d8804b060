// The install log's reader: parse and check (install_log.h draws the format and the rules).
// Pure code on a buffer, no seam calls: the uninstaller links it without the installer's
// platform layer, and the native tests run it as it is.
#include "install_log.h"

#include "../archive/text.h"

static const char uninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

static char Fold(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c + ('a' - 'A')) : c;
}

int InstallLogSameFolded(const char* a, const char* b, u32 n)
{
    // n 0 counts down from 2^32 - 1, past the length of any text the log can hold.
    for (;; a++, b++) {
        char c = Fold(*a);
        if (c != Fold(*b))
            return 0;
        if (!c || !--n)
            return 1;
    }
}

// Exact comparison: tags and the magic line are written in lower case.
static int Same(const char* a, const char* b)
{
    for (; *a == *b; a++, b++)
        if (!*a)
            return 1;
    return 0;
}

// Device names that Windows resolves in any folder, with or without an extension: a
// part named so would open the device instead of a file.
static int IsDeviceName(const char* part, u32 length)
{
    u32 base = 0;
    while (base < length && part[base] != '.')
        base++;
    while (base && part[base - 1] == ' ')
        base--;
    char name[8];
    if (base > 7)
        return 0;
    for (u32 i = 0; i < base; i++)
        name[i] = part[i];  // compared case-blind below
    name[base] = 0;
    // The names one after another in one text, so that no pointer is stored for each.
    const char* device = "con\0prn\0aux\0nul\0conin$\0conout$\0";
    for (; *device; device += TextLength(device) + 1)
        if (InstallLogSameFolded(name, device, 0))
            return 1;
    if (InstallLogSameFolded(name, "com", 3) || InstallLogSameFolded(name, "lpt", 3)) {
        if (base == 4 && name[3] >= '0' && name[3] <= '9')
            return 1;
        // COM and LPT with a superscript digit (U+00B9, U+00B2, U+00B3, in UTF-8) too.
        if (base == 5 && (u8)name[3] == 0xC2 &&
            ((u8)name[4] == 0xB9 || (u8)name[4] == 0xB2 || (u8)name[4] == 0xB3))
            return 1;
    }
    return 0;
}

// Nonzero when c is one of set's characters (never for the NUL).
static int OneOf(char c, const char* set)
{
    for (; *set; set++)
        if (c == *set)
            return 1;
    return 0;
}

// One name between backslashes: not empty, not "." or "..", no character Windows keeps
// out of names, not ending in a dot or a blank (stripped on open, so it could name
// another file), not a device.
static int PartSound(const char* part, u32 length)
{
    if (!length || part[length - 1] == '.' || part[length - 1] == ' ')
        return 0;  // also "." and ".."
    for (u32 i = 0; i < length; i++) {
        if ((u8)part[i] < 0x20 || OneOf(part[i], "/:*?\"<>|"))
            return 0;
    }
    return !IsDeviceName(part, length);
}

// Parts separated by single backslashes, at least one; counts them into *parts.
static int PartsSound(const char* path, u32* parts)
{
    u32 count = 0;
    const char* start = path;
    for (const char* p = path;; p++) {
        if (*p == '\\' || !*p) {
            if (!PartSound(start, (u32)(p - start)))
                return 0;
            count++;
            if (!*p)
                break;
            start = p + 1;
        }
    }
    if (parts)
        *parts = count;
    return 1;
}

int InstallLogRelativePathSound(const char* path)
{
    return TextLength(path) < INSTALL_LOG_PATH_SIZE && PartsSound(path, 0);
}

// The parts of an absolute path below its root, or 0 when it is not a sound one.
static u32 AbsoluteParts(const char* path)
{
    if (TextLength(path) >= INSTALL_LOG_PATH_SIZE)
        return 0;
    const char* rest;
    if (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && path[2] == '\\') {
        rest = path + 3;
    } else if (path[0] == '\\' && path[1] == '\\') {
        // \\server\share\...: server and share are names ("?" and "." are the device
        // prefixes); the share alone is the network root.
        const char* server = path + 2;
        const char* p = server;
        for (int names = 0; names < 2; names++) {
            const char* start = p;
            while (*p && *p != '\\')
                p++;
            if (!*p || !PartSound(start, (u32)(p - start)))
                return 0;
            p++;
        }
        rest = p;
    } else {
        return 0;
    }
    u32 parts = 0;
    return PartsSound(rest, &parts) ? parts : 0;
}

int InstallLogAbsolutePathSound(const char* path)
{
    return AbsoluteParts(path) != 0;
}

int InstallLogPathInside(const char* path, const char* folder)
{
    u32 length = TextLength(folder);
    while (length && folder[length - 1] == '\\')
        length--;
    if (!length || !InstallLogSameFolded(path, folder, length))
        return 0;
    return path[length] == 0 || path[length] == '\\';
}

u32 InstallLogEntryBound(const char* bytes, u32 size)
{
    u32 lines = 0;
    for (u32 i = 0; i < size; i++)
        lines += bytes[i] == '\n';
    return lines;
}

// Cuts the next blank-separated field off *rest (NUL-ending it in place); 0 when none.
static char* NextField(char** rest)
{
    char* field = *rest;
    if (!*field || *field == ' ')
        return 0;
    char* p = field;
    while (*p && *p != ' ')
        p++;
    if (*p)
        *p++ = 0;
    *rest = p;
    return field;
}

// A decimal u32; 0 for no number (a problem set in *problem), else nonzero.
static int ParseNumber(const char* text, u32* value, int* problem)
{
    u64 n = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; p++) {
        n = n * 10 + (u32)(*p - '0');
        if (n > 0xFFFFFFFFull) {
            *problem = LOG_OUT_OF_RANGE;
            return 0;
        }
    }
    if (p == text || *p) {
        *problem = LOG_MALFORMED;
        return 0;
    }
    *value = (u32)n;
    return 1;
}

static int ParseFileTime(const char* text, u64* value)
{
    u64 n = 0;
    u32 i = 0;
    for (; text[i]; i++) {
        char c = Fold(text[i]);
        u32 digit;
        if (c >= '0' && c <= '9')
            digit = (u32)(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = (u32)(c - 'a' + 10);
        else
            return 0;
        n = n << 4 | digit;
    }
    *value = n;
    return i == 16;
}

// A program manager group's name goes into "[DeleteGroup(name)]": one sound name, and
// none of the characters that would end the command or start another.
int InstallLogGroupNameSound(const char* name)
{
    for (const char* p = name; *p; p++)
        if (OneOf(*p, "()[]\",\\"))
            return 0;
    return PartSound(name, TextLength(name));
}

enum HeadField { HEAD_ID, HEAD_TITLE, HEAD_PROGRAM, HEAD_KEY, HEAD_DIRECTORY, HEAD_CREATED, HEAD_COUNT };

static const char* const headTags[HEAD_COUNT] = {"id", "title", "program", "key", "directory", "created"};

struct BodyTag {
    const char* tag;
    u8 kind;
};
static const BodyTag bodyTags[] = {{"folder", LOG_FOLDER},
                                   {"file", LOG_FILE},
                                   {"shortcut", LOG_SHORTCUT},
                                   {"group-folder", LOG_GROUP_FOLDER},
                                   {"dde-group", LOG_DDE_GROUP}};

// One line after the magic one: tag and fields. 0 or the problem.
static int ReadLine(char* line, u32 number, InstallLog* log, u32* seen, u32 capacity,
                    const char* windowsFolder)
{
    if (Same(line, "complete")) {
        log->complete = 1;
        return 0;
    }
    char* rest = line;
    while (*rest && *rest != ' ')
        rest++;
    if (!*rest)
        return LOG_MALFORMED;  // a tag without fields (or an unknown one alone)
    *rest++ = 0;
    if (!*rest)
        return LOG_MALFORMED;

    for (int h = 0; h < HEAD_COUNT; h++) {
        if (!Same(line, headTags[h]))
            continue;
        // A head entry comes once, before the entries.
        if ((*seen >> h & 1) || log->entryCount)
            return LOG_MALFORMED;
        *seen |= 1u << h;
        int problem = 0;
        switch (h) {
        case HEAD_ID:
            for (const char* p = rest; *p; p++)
                if (*p == '\\' || (u8)*p < 0x20)
                    return LOG_BAD_KEY;
            log->id = rest;
            break;
        case HEAD_TITLE:
            log->title = rest;
            break;
        case HEAD_PROGRAM:
            for (const char* p = rest; *p; p++)
                if (*p == '\\')
                    return LOG_BAD_RELATIVE_PATH;  // at the directory's top
            if (!InstallLogRelativePathSound(rest))
                return LOG_BAD_RELATIVE_PATH;
            log->program = rest;
            break;
        case HEAD_KEY: {
            char* root = NextField(&rest);
            if (!root || !*rest)
                return LOG_MALFORMED;
            if (TextLength(root) != 4 ||
                (!InstallLogSameFolded(root, "HKLM", 0) && !InstallLogSameFolded(root, "HKCU", 0)))
                return LOG_BAD_KEY;
            log->keyRoot = root;
            log->key = rest;
            break;
        }
        case HEAD_DIRECTORY:
            if (TextLength(rest) >= INSTALL_LOG_PATH_SIZE)
                return LOG_OUT_OF_RANGE;
            if (!InstallLogAbsolutePathSound(rest))
                return LOG_BAD_ABSOLUTE_PATH;
            if (windowsFolder && InstallLogPathInside(rest, windowsFolder))
                return LOG_WINDOWS_FOLDER;
            log->directory = rest;
            break;
        case HEAD_CREATED:
            if (!ParseNumber(rest, &log->createdLevels, &problem))
                return problem;
            break;
        }
        return 0;
    }

    if (!Same(line, "text")) {
        u32 b = 0;
        while (b < sizeof(bodyTags) / sizeof(bodyTags[0]) && !Same(line, bodyTags[b].tag))
            b++;
        if (b == sizeof(bodyTags) / sizeof(bodyTags[0]))
            return LOG_UNKNOWN_TAG;
        if (log->entryCount >= capacity)
            return LOG_MALFORMED;
        InstallLogItem* entry = &log->entries[log->entryCount];
        entry->kind = bodyTags[b].kind;
        entry->superseded = 0;
        entry->line = number;
        entry->size = 0;
        entry->writeTime = 0;
        int problem = 0;
        if (entry->kind == LOG_FILE) {
            char* size = NextField(&rest);
            char* time = size ? NextField(&rest) : 0;
            if (!time || !*rest)
                return LOG_MALFORMED;
            if (!ParseNumber(size, &entry->size, &problem))
                return problem;
            if (!ParseFileTime(time, &entry->writeTime))
                return LOG_MALFORMED;
        }
        entry->path = rest;
        if (TextLength(rest) >= INSTALL_LOG_PATH_SIZE)
            return LOG_OUT_OF_RANGE;
        switch (entry->kind) {
        case LOG_FOLDER:
        case LOG_FILE:
            if (!InstallLogRelativePathSound(rest))
                return LOG_BAD_RELATIVE_PATH;
            break;
        case LOG_SHORTCUT:
        case LOG_GROUP_FOLDER: {
            if (!InstallLogAbsolutePathSound(rest))
                return LOG_BAD_ABSOLUTE_PATH;
            if (windowsFolder && InstallLogPathInside(rest, windowsFolder))
                return LOG_WINDOWS_FOLDER;
            u32 length = TextLength(rest);
            if (entry->kind == LOG_SHORTCUT &&
                (length < 5 || !InstallLogSameFolded(rest + length - 4, ".lnk", 0)))
                return LOG_BAD_SHORTCUT;
            break;
        }
        case LOG_DDE_GROUP:
            if (!InstallLogGroupNameSound(rest))
                return LOG_BAD_GROUP;
            break;
        }
        log->entryCount++;
        return 0;
    }

    // text N T
    if (log->entryCount)
        return LOG_MALFORMED;
    char* id = NextField(&rest);
    if (!id || !*rest)
        return LOG_MALFORMED;
    u32 value = 0;
    int problem = 0;
    if (!ParseNumber(id, &value, &problem))
        return problem;
    if (value < INSTALL_LOG_FIRST_TEXT || value > 299)
        return LOG_OUT_OF_RANGE;
    if (value < INSTALL_LOG_FIRST_TEXT + INSTALL_LOG_TEXT_COUNT)
        log->texts[value - INSTALL_LOG_FIRST_TEXT] = rest;
    return 0;
}

InstallLogResult ReadInstallLog(char* bytes, u32 size, InstallLogItem* entries, u32 capacity,
                                const char* windowsFolder, InstallLog* log)
{
    char* clear = (char*)log;
    for (u32 i = 0; i < sizeof(*log); i++)
        clear[i] = 0;
    log->entries = entries;
    InstallLogResult result = {LOG_SOUND, 0};
    if (size > INSTALL_LOG_MAX_SIZE) {
        result.problem = LOG_TOO_LARGE;
        return result;
    }
    u32 at = 0;
    if (size >= 3 && (u8)bytes[0] == 0xEF && (u8)bytes[1] == 0xBB && (u8)bytes[2] == 0xBF)
        at = 3;
    u32 seen = 0;
    u32 number = 0;
    while (at < size) {
        u32 end = at;
        while (end < size && bytes[end] != '\n')
            end++;
        if (end == size)
            break;  // torn: the install ended inside this line's write
        number++;
        result.line = number;
        char* line = bytes + at;
        u32 length = end - at;
        at = end + 1;
        if (!length || line[length - 1] != '\r') {
            result.problem = number == 1 ? LOG_NO_MAGIC : LOG_MALFORMED;
            break;
        }
        line[--length] = 0;
        for (u32 i = 0; i < length; i++)
            if (!line[i] || line[i] == '\r') {
                result.problem = number == 1 ? LOG_NO_MAGIC : LOG_MALFORMED;
                break;
            }
        if (result.problem)
            break;
        if (number == 1) {
            if (!Same(line, INSTALL_LOG_MAGIC)) {
                result.problem = LOG_NO_MAGIC;
                break;
            }
            continue;
        }
        if (length >= INSTALL_LOG_PATH_SIZE + 64) {
            result.problem = LOG_OUT_OF_RANGE;
            break;
        }
        result.problem = ReadLine(line, number, log, &seen, capacity, windowsFolder);
        if (result.problem)
            break;
    }
    if (!result.problem && !number)
        result.problem = LOG_NO_MAGIC;
    if (!result.problem && seen != (1u << HEAD_COUNT) - 1) {
        result.problem = LOG_INCOMPLETE_HEAD;
        result.line = 0;
    }
    if (!result.problem) {
        // The key is the id's own entry, and the levels made lie below the root.
        u32 prefix = TextLength(uninstallKeyPrefix);
        if (!InstallLogSameFolded(log->key, uninstallKeyPrefix, prefix) ||
            !InstallLogSameFolded(log->key + prefix, log->id, 0)) {
            result.problem = LOG_BAD_KEY;
            result.line = 0;
        } else if (log->createdLevels > AbsoluteParts(log->directory)) {
            result.problem = LOG_OUT_OF_RANGE;
            result.line = 0;
        } else {
            result.line = 0;
        }
    }
    if (result.problem) {
        for (u32 i = 0; i < sizeof(*log); i++)
            clear[i] = 0;
    }
    return result;
}

static u32 HashPath(u8 kind, const char* path)
{
    u32 hash = 2166136261u ^ kind;
    for (const char* p = path; *p; p++)
        hash = (hash ^ (u8)Fold(*p)) * 16777619u;
    return hash;
}

void InstallLogMarkRepeats(InstallLog* log, u32* scratch)
{
    u32 slots = 2 * log->entryCount;
    for (u32 i = 0; i < slots; i++)
        scratch[i] = 0;
    // From the last entry back: the first seen of each path is the one that counts.
    for (u32 i = log->entryCount; i-- > 0;) {
        InstallLogItem* entry = &log->entries[i];
        u32 slot = HashPath(entry->kind, entry->path) % slots;
        for (;;) {
            if (!scratch[slot]) {
                scratch[slot] = i + 1;
                break;
            }
            const InstallLogItem* later = &log->entries[scratch[slot] - 1];
            if (later->kind == entry->kind && InstallLogSameFolded(later->path, entry->path, 0)) {
                entry->superseded = 1;
                break;
            }
            slot = (slot + 1) % slots;
        }
    }
}

const char* InstallLogText(const InstallLog* log, u32 id)
{
    if (id < INSTALL_LOG_FIRST_TEXT || id >= INSTALL_LOG_FIRST_TEXT + INSTALL_LOG_TEXT_COUNT)
        return 0;
    return log->texts[id - INSTALL_LOG_FIRST_TEXT];
}

const char* InstallLogProblemText(int problem)
{
    switch (problem) {
    case LOG_SOUND:
        return "sound";
    case LOG_NO_MAGIC:
        return "not an install log";
    case LOG_UNKNOWN_TAG:
        return "an unknown entry";
    case LOG_MALFORMED:
        return "a malformed line";
    case LOG_OUT_OF_RANGE:
        return "a value out of range";
    case LOG_INCOMPLETE_HEAD:
        return "the head is incomplete";
    case LOG_BAD_RELATIVE_PATH:
        return "a path outside the install directory";
    case LOG_BAD_ABSOLUTE_PATH:
        return "a path that is not a folder's";
    case LOG_WINDOWS_FOLDER:
        return "a path in the Windows folder";
    case LOG_BAD_KEY:
        return "a key that is not the product's uninstall entry";
    case LOG_BAD_SHORTCUT:
        return "a shortcut that is not a .lnk file";
    case LOG_BAD_GROUP:
        return "a program group name that is not one name";
    case LOG_TOO_LARGE:
        return "too large";
    }
    return "damaged";
}
