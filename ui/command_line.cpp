#include "command_line.h"

#include <stddef.h>

#include "../archive/held.h"
#include "../archive/text.h"

// Byte-aligned: GCC would move an array this long to a 32-byte boundary and pad .text.
const char usageText[] __attribute__((aligned(1))) =
    "Usage: setup [/S] [/NOGROUP] [/RUN] [/LOG=FILE] [/D=DIRECTORY]\n\n"
    "/S\tsilent: no window and no question; /D= or the default directory\n"
    "/NOGROUP\tno program group\n"
    "/RUN\tsilent: start the post-install command as well\n"
    "/LOG=FILE\tappend a line per event to FILE\n"
    "/D=DIRECTORY\tthe install directory; last, to the end of the line\n\n"
    "Exit codes: 0 installed, 1602 quit, 1603 failed, 112 disk full,\n"
    "1618 another install running, 1639 command line not understood.";

static int IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

static char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// What follows name (upper case) when text begins with it, whatever the case of text; else 0.
static const char* StartsWith(const char* text, const char* name)
{
    for (; *name; text++, name++)
        if (Upper(*text) != *name)
            return 0;
    return text;
}

static int IsOption(const char* token, const char* name)
{
    const char* rest = StartsWith(token, name);
    return rest && !*rest;
}

// The options without a value, one after another in one text (no pointer stored for
// each), in the order of the u32 flags they set at the start of CommandLine.
enum { FLAG_COUNT = 4 };
static const char flagOptions[] __attribute__((aligned(1))) = "/S\0/NOGROUP\0/RUN\0/?";
static_assert(offsetof(CommandLine, silent) == 0 && offsetof(CommandLine, noGroup) == 4 &&
                  offsetof(CommandLine, runPostInstall) == 8 && offsetof(CommandLine, usage) == 12,
              "the flags in the options' order");

// Takes the value behind a prefix such as /LOG= into destination (TEXT_SIZE bytes):
// nonzero when it is neither empty nor longer than a path (255 characters).
static int TakeValue(const char* value, char* destination)
{
    if (!value[0] || TextCharacters(value) > PATH_LENGTH)
        return 0;
    CopyText(destination, value);
    return 1;
}

int ParseCommandLine(const char* line, CommandLine* result)
{
    result = Held(result);
    char* bytes = (char*)result;
    *result = {};
    const char* p = line;
    // The program's name: quoted, or up to the first blank.
    if (*p == '"') {
        for (p++; *p && *p != '"'; p++) {
        }
        if (*p)
            p++;
    } else {
        while (*p && !IsBlank(*p))
            p++;
    }

    // Long enough for the longest option with a value of TEXT_SIZE bytes: a longer token
    // cannot be a valid option, and is cut only for the message.
    char token[TEXT_SIZE + 8];
    for (;;) {
        while (IsBlank(*p))
            p++;
        if (!*p)
            break;
        const char* start = p;
        u32 n = 0;
        for (int quoted = 0; *p && (quoted || !IsBlank(*p)); p++) {
            if (*p == '"')
                quoted = !quoted;
            else if (n + 1 < sizeof(token))
                token[n++] = *p;
        }
        token[n] = 0;

        int understood = 0;
        const char* value;
        if (StartsWith(token, "/D=")) {
            // The rest of the line, blanks included; a path holds no quotes, so every
            // quote goes, wherever the script put it.
            n = 0;
            for (p = start; *p; p++)
                if (*p != '"' && n + 1 < sizeof(token))
                    token[n++] = *p;
            while (n && IsBlank(token[n - 1]))
                n--;
            token[n] = 0;
            understood = TakeValue(token + 3, result->installDir);
        } else if ((value = StartsWith(token, "/LOG=")) != 0) {
            understood = TakeValue(value, result->logFile);
        } else {
            const char* option = flagOptions;
            for (u32 i = 0; i < FLAG_COUNT; i++) {
                if (IsOption(token, option)) {
                    *(u32*)(bytes + i * sizeof(u32)) = 1;
                    understood = 1;
                    break;
                }
                while (*option++) {
                }
            }
        }
        if (!understood && !result->unknown[0])
            CopyText(result->unknown, token[0] ? token : "\"\"");
    }
    return !result->unknown[0];
}

u32 ExitCodeFor(int outcome)
{
    if (outcome == 0)
        return EXIT_INSTALLED;
    if (outcome == OUTCOME_QUIT)
        return EXIT_USER_QUIT;
    if (outcome == MSG_NOT_ENOUGH_SPACE)
        return EXIT_DISK_FULL;
    return EXIT_INSTALL_FAILED;
}
