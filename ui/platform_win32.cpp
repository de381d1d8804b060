// The core's platform functions on Win32, all through the ANSI calls.
#include "ui.h"

#include <commdlg.h>

#include "../archive/commands.h"
#include "../archive/context.h"
#include "../archive/platform.h"

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

FileHandle PlatOpenRead(const char* path)
{
    return CoreHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0));
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
    *ok = ReadFile(Win32Handle(file), buffer, count, &got, 0) != 0;
    return got;
}

FileHandle PlatCreateOutput(const char* name)
{
    return CoreHandle(CreateFileA(name, GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, 0));
}

u32 PlatWrite(FileHandle file, const void* buffer, u32 count)
{
    DWORD written = 0;
    if (!WriteFile(Win32Handle(file), buffer, count, &written, 0))
        return 0;
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
    SetFileAttributesA(name, attributes);
}

int PlatCreateDirectory(const char* name)
{
    return CreateDirectoryA(name, 0) != 0;
}

int PlatSetCurrentDirectory(const char* path)
{
    return SetCurrentDirectoryA(path) != 0;
}

u32 PlatGetCurrentDirectory(char* buffer, u32 capacity)
{
    DWORD length = GetCurrentDirectoryA(capacity, buffer);
    return length < capacity ? length : 0;
}

int PlatFullPath(const char* name, char* buffer)
{
    char* filePart;
    DWORD length = GetFullPathNameA(name, TEXT_SIZE, buffer, &filePart);
    return length && length < TEXT_SIZE;
}

int PlatProgramPath(char* buffer)
{
    DWORD length = GetModuleFileNameA(0, buffer, TEXT_SIZE);
    buffer[TEXT_SIZE - 1] = 0;
    return length && length < TEXT_SIZE;
}

int PlatProgramFilesDir(char* buffer)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    // One byte kept back: a stored value need not end with a NUL.
    DWORD size = TEXT_SIZE - 1;
    DWORD type;
    LONG status = RegQueryValueExA(key, "ProgramFilesDir", 0, &type, (BYTE*)buffer, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return 0;
    buffer[size] = 0;
    return 1;
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
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof(request);
    request.hwndOwner = (HWND)owner;
    request.lpstrFilter = filter;
    request.lpstrFile = path;
    request.nMaxFile = 260;
    request.Flags = OFN_HIDEREADONLY;
    request.lpstrDefExt = defaultExtension;
    return GetOpenFileNameA(&request) != 0;
}

void PlatSetControlText(u32 controlId, const char* text)
{
    SendMessageA(GetDlgItem((HWND)context.progressDialog, (int)controlId), WM_SETTEXT, 0,
                 (LPARAM)text);
}

void PlatBarCommand(u32 command, u32 value)
{
    SendMessageA(GetDlgItem((HWND)context.progressDialog, CONTROL_PROGRESS_BAR), WM_COMMAND,
                 command, (LPARAM)value);
}

void PlatNotifyWorkerAborted()
{
    SendMessageA((HWND)context.progressDialog, WM_COMMAND, ID_WORKER_ABORTED, 0);
}

void PlatPostCreateGroup()
{
    PostMessageA(mainWindow, WM_COMMAND, CMD_CREATE_GROUP, 0);
}

static_assert(sizeof(STARTUPINFOA) == 68, "the start-up record the system expects");

int PlatStartProcess(char* command)
{
    if (commandLine.silent && !commandLine.runPostInstall) {
        LogLine("not run (no /RUN)", command);
        return 1;
    }
    LogLine("run", command);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(0, command, 0, 0, TRUE, CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS,
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
