// A running program cannot delete its own file. The uninstaller copies itself into the
// temporary folder, opens the copy with FILE_FLAG_DELETE_ON_CLOSE as an inheritable handle
// and starts it with that handle and one of its own process: the system deletes the copy
// when the copy ends, the copy's last handle closing. The copy waits for the original to
// end, deletes it, and then the install directory and the levels the install made above
// it, each when empty. The original's exit code thus comes once everything but its own
// file is gone, which is what a deployment tool waits for.
//
//   "%TEMP%\qsuXXXX.tmp" /ERASE=PROCESS,LEVELS,PROGRAM      (PROCESS: the handle, hex)
#include "uninstall.h"

#include "../archive/text.h"

static const WCHAR eraseOption[] = L"/ERASE=";
// How long the copy waits for the original, and then for its file to come free.
static const DWORD ORIGINAL_WAIT_MS = 10 * 60 * 1000;
static const DWORD FILE_WAIT_MS = 10000;

static WCHAR commandLine[3 * WIDE_PATH_SIZE];
static WCHAR copyPath[MAX_PATH + 16];
static WCHAR erasePath[WIDE_PATH_SIZE];

static WCHAR* AppendHex(WCHAR* out, u32 value)
{
    WCHAR digits[9];
    int n = 8;
    digits[8] = 0;
    do {
        digits[--n] = L"0123456789abcdef"[value & 15];
        value >>= 4;
    } while (value);
    lstrcatW(out, digits + n);
    return out;
}

int StartEraser(u32 createdLevels)
{
    WCHAR temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (!length || length > MAX_PATH || !GetTempFileNameW(temp, L"qsu", 0, copyPath))
        return 0;
    // Read-only data: as a local it came from a writable template, a file block of its own.
    static const SECURITY_ATTRIBUTES inherited = {sizeof(inherited), 0, TRUE};
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (CopyFileW(state.self, copyPath, FALSE))
        copy = CreateFileW(copyPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, (LPSECURITY_ATTRIBUTES)&inherited,
                           OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, 0);
    if (copy == INVALID_HANDLE_VALUE) {
        DeleteFileW(copyPath);
        return 0;
    }
    HANDLE self = 0;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE,
                    TRUE, 0);
    commandLine[0] = '"';
    lstrcpyW(commandLine + 1, copyPath);
    lstrcatW(commandLine, L"\" ");
    lstrcatW(commandLine, eraseOption);
    AppendHex(commandLine, (u32)(UINT_PTR)self);
    lstrcatW(commandLine, L",");
    AppendHex(commandLine, createdLevels);
    lstrcatW(commandLine, L",");
    lstrcatW(commandLine, state.self);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    // In the temporary folder: a current directory inside the install directory would
    // keep it from being removed.
    int started = self && CreateProcessW(copyPath, commandLine, 0, 0, TRUE, 0, 0, temp, &startup, &process);
    // From here the copy holds the only handle of its file.
    CloseHandle(copy);
    if (self)
        CloseHandle(self);
    if (!started)
        return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

static u32 ReadHex(const WCHAR** text)
{
    u32 value = 0;
    for (;; (*text)++) {
        WCHAR c = **text;
        if (c >= '0' && c <= '9')
            value = value << 4 | (u32)(c - '0');
        else if (c >= 'a' && c <= 'f')
            value = value << 4 | (u32)(c - 'a' + 10);
        else
            return value;
    }
}

int RunEraserIfAsked(const WCHAR* line, UINT* code)
{
    const WCHAR* p = line;
    if (*p == '"') {
        for (p++; *p && *p != '"'; p++) {
        }
        if (*p)
            p++;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            p++;
    }
    while (*p == ' ' || *p == '\t')
        p++;
    for (const WCHAR* o = eraseOption; *o; o++, p++)
        if (*p != *o)
            return 0;
    HANDLE original = (HANDLE)(UINT_PTR)ReadHex(&p);
    u32 levels = *p == ',' ? (p++, ReadHex(&p)) : 0;
    *code = 1;
    // Only after the original has ended, of which an inherited handle is the proof.
    if (*p++ != ',' || !*p || WaitForSingleObject(original, ORIGINAL_WAIT_MS) != WAIT_OBJECT_0)
        return 1;
    CloseHandle(original);
    PrefixedWide(p, erasePath);
    // The system lets go of the program's image a little after the process has ended.
    DWORD start = GetTickCount();
    for (;;) {
        SetFileAttributesW(erasePath, FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(erasePath) || GetLastError() == ERROR_FILE_NOT_FOUND)
            break;
        if (GetTickCount() - start > FILE_WAIT_MS)
            return 1;
        Sleep(50);
    }
    // The install directory and the levels made with it, from the deepest, while empty.
    for (u32 level = 0; level < levels; level++) {
        WCHAR* slash = 0;
        for (WCHAR* c = erasePath; *c; c++)
            if (*c == '\\')
                slash = c;
        if (!slash)
            break;
        *slash = 0;
        if (!RemoveDirectoryW(erasePath))
            break;
    }
    *code = 0;
    return 1;
}
