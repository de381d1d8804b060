// The core's platform functions on Win32: paths and texts through the wide calls.
#include "ui.h"

#include <commdlg.h>

#include "../archive/commands.h"
#include "../archive/context.h"
#include "../archive/platform.h"
#include "../extract/install_log.h"

static HANDLE Win32Handle(FileHandle file)
{
    return (HANDLE)file;
}

// The core's "no file" is 0, Win32's is INVALID_HANDLE_VALUE.
static FileHandle CoreHandle(HANDLE file)
{
    return file == INVALID_HANDLE_VALUE ? 0 : (FileHandle)file;
}

void* PlatAlloc(u32 size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void PlatFree(void* block)
{
    HeapFree(GetProcessHeap(), 0, block);
}

// Both opens in one call: reading shares read and write and takes an existing file only;
// writing (write 1) shares nothing and always creates.
__attribute__((noinline)) static FileHandle OpenFile(const char* name, u32 write)
{
    WCHAR wide[WIDE_SIZE];
    return CoreHandle(CreateFileW(Wide(name, wide), GENERIC_READ >> write,
                                  write ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                                  OPEN_EXISTING - write, FILE_ATTRIBUTE_NORMAL, 0));
}

FileHandle PlatOpenRead(const char* path)
{
    return OpenFile(path, 0);
}

u32 PlatFileSize(FileHandle file)
{
    DWORD high = 0;
    DWORD low = GetFileSize(Win32Handle(file), &high);
    return high ? 0xFFFFFFFF : low;
}

int PlatSeek(FileHandle file, u32 offset)
{
    // With the high half given, the offset counts as unsigned: past 2 GiB as well.
    LONG high = 0;
    return SetFilePointer(Win32Handle(file), (LONG)offset, &high, FILE_BEGIN) == offset && !high;
}

u32 PlatRead(FileHandle file, void* buffer, u32 count, int* ok)
{
    DWORD got = 0;
    *ok = ReadFile(Win32Handle(file), buffer, count, &got, 0);
    return got;
}

FileHandle PlatCreateOutput(const char* name)
{
    static_assert(GENERIC_READ >> 1 == GENERIC_WRITE && OPEN_EXISTING - 1 == CREATE_ALWAYS,
                  "one step from reading to writing");
    return OpenFile(name, 1);
}

u32 PlatWrite(FileHandle file, const void* buffer, u32 count)
{
    // WriteFile zeroes the count before anything else, so a failed write gives less than
    // count: each caller takes only the whole count as success.
    DWORD written = 0;
    WriteFile(Win32Handle(file), buffer, count, &written, 0);
    return written;
}

void PlatSetFileTime(FileHandle file, u64 fileTime)
{
    FILETIME time = {(DWORD)fileTime, (DWORD)(fileTime >> 32)};
    SetFileTime(Win32Handle(file), &time, &time, &time);
}

void PlatClose(FileHandle file)
{
    CloseHandle(Win32Handle(file));
}

void PlatSetAttributes(const char* name, u32 attributes)
{
    WCHAR wide[WIDE_SIZE];
    SetFileAttributesW(Wide(name, wide), attributes);
}

int PlatCreateDirectory(const char* name)
{
    WCHAR wide[WIDE_SIZE];
    return CreateDirectoryW(Wide(name, wide), 0);
}

int PlatSetCurrentDirectory(const char* path)
{
    WCHAR wide[WIDE_SIZE];
    return SetCurrentDirectoryW(Wide(path, wide));
}

// A path the system gives (length units, 0 on failure) into buffer (capacity bytes):
// its UTF-8 length, or 0 and an empty buffer when it is past 255 characters or does not
// fit. The interface's callers take the empty text as the failure.
static u32 SystemPath(const WCHAR* wide, DWORD length, char* buffer, u32 capacity)
{
    if (!length || length > PATH_LENGTH) {
        buffer[0] = 0;
        return 0;
    }
    return Narrow(wide, buffer, capacity);
}

u32 PlatGetCurrentDirectory(char* buffer, u32 capacity)
{
    WCHAR wide[WIDE_SIZE];
    return SystemPath(wide, GetCurrentDirectoryW(WIDE_SIZE, wide), buffer, capacity);
}

int PlatFullPath(const char* name, char* buffer)
{
    WCHAR wide[WIDE_SIZE], full[PATH_LENGTH + 1];
    WCHAR* filePart;
    // The length: nonzero on success, as a path has a character at least.
    return (int)SystemPath(full, GetFullPathNameW(Wide(name, wide), PATH_LENGTH + 1, full, &filePart), buffer,
                           TEXT_SIZE);
}

int PlatProgramPath(char* buffer)
{
    WCHAR wide[WIDE_SIZE];
    // A cut name comes back as the whole buffer's length, which SystemPath refuses as too long.
    return (int)SystemPath(wide, GetModuleFileNameW(0, wide, WIDE_SIZE), buffer, TEXT_SIZE);
}

// The value's key is the Uninstall key's parent: its path is cut from that text, which
// the program holds anyway.
#define CURRENT_VERSION_KEY "Software\\Microsoft\\Windows\\CurrentVersion"
static_assert(UNINSTALL_KEY_PATH[sizeof(CURRENT_VERSION_KEY) - 1] == '\\', "the Uninstall key's parent");

int PlatProgramFilesDir(char* buffer)
{
    char path[sizeof(CURRENT_VERSION_KEY)];
    CopyText(path, UNINSTALL_KEY_PATH, sizeof(path));
    return ReadRegistryText(HKEY_LOCAL_MACHINE, path, L"ProgramFilesDir", buffer);
}

int PlatMessageBox(WindowHandle owner, const char* text, const char* caption, u32 style)
{
    return ShowBox((HWND)owner, 0, text, caption, style);
}

int PlatOpenFileDialog(WindowHandle owner, const char* filter, char* path,
                       const char* defaultExtension)
{
    // A silent install asks nobody: a missing volume is a failure.
    if (commandLine.silent) {
        LogLine("missing volume", path);
        return 0;
    }
    // The filter (a volume's name, twice) and the extension are short ASCII texts.
    WCHAR wideFilter[64], file[MAX_PATH], extension[8];
    WideIn(defaultExtension, extension, 8);
    // Each '|' a NUL, up to the second, 62 units at most, and a NUL behind.
    u32 i = 0, parts = 0;
    do {
        WCHAR c = (u8)filter[i];
        parts += !(wideFilter[i] = c == '|' ? 0 : c);
    } while (++i < 62 && parts < 2);
    wideFilter[i] = 0;
    WideIn(path, file, MAX_PATH);
    OPENFILENAMEW request = {};
    request.lStructSize = sizeof(request);
    request.hwndOwner = (HWND)owner;
    request.lpstrFilter = wideFilter;
    request.lpstrFile = file;
    request.nMaxFile = MAX_PATH;
    request.Flags = OFN_HIDEREADONLY;
    request.lpstrDefExt = extension;
    return GetOpenFileNameW(&request) ? (int)SystemPath(file, lstrlenW(file), path, TEXT_SIZE) : 0;
}

void PlatSetControlText(u32 controlId, const char* text)
{
    WCHAR wide[WIDE_SIZE];
    SendDlgItemMessageW((HWND)context.progressDialog, (int)controlId, WM_SETTEXT, 0,
                        (LPARAM)Wide(text, wide));
}

void PlatBarCommand(u32 command, u32 value)
{
    // Most reports change no pixel of the bar, and a send to the other thread is the
    // report's whole cost: one that would paint the same picture stays here.
    if (command == BAR_SETPOS && BarShows(value))
        return;
    SendDlgItemMessageW((HWND)context.progressDialog, CONTROL_PROGRESS_BAR, WM_COMMAND, command,
                        (LPARAM)value);
}

void PlatNotifyWorkerAborted()
{
    SendMessageW((HWND)context.progressDialog, WM_COMMAND, ID_WORKER_ABORTED, 0);
}

void PlatPostCreateGroup()
{
    PostMessageA(mainWindow, WM_COMMAND, CMD_CREATE_GROUP, 0);
}

static_assert(sizeof(STARTUPINFOW) == 68, "the start-up record the system expects");

int PlatStartProcess(char* command)
{
    if (commandLine.silent && !commandLine.runPostInstall) {
        LogLine("not run (no /RUN)", command);
        return 1;
    }
    LogLine("run", command);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    WCHAR wide[WIDE_SIZE];
    if (!CreateProcessW(0, Wide(command, wide), 0, 0, TRUE, CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS,
                        0, 0, &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

void PlatRecordDone(const RecordHeader* record, u32)
{
    char path[TEXT_SIZE];
    // The current directory is still the file's: the worker has not moved on.
    if (Logging() && record->type == RECORD_FILE && PlatFullPath(context.entryName, path))
        LogLine("file", path);
}

int PlatWorkerSafePoint()
{
    return HoldWorkerAtSafePoint();
}

void PlatExitWorker(u32 exitCode)
{
    ExitThread(exitCode);
}
