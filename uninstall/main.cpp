// The uninstaller's entry: the command line, the /LOG= file, the install log beside the
// program, the question, the removal and the end message.
//
//   uninstall.exe [/S] [/LOG=FILE] [/?]
//
// Exit codes as the installer's: 0 removed (or already removed), 1602 the user said no,
// 1603 failed or refused (the message or the /LOG= line says why), 1639 the command line.
//
// Run twice: with no log beside the program and no Apps & features key naming its folder,
// the product has already been removed; that is said (205) and the exit code is 0, with
// nothing deleted. A second start while the first still holds the log waits for it: when
// the first has removed the log, the same. A key without its log is a damaged install: 204.
#include "uninstall.h"

#include "../archive/text.h"

Uninstall state;

static HANDLE outputLog;  // the /LOG= file; 0 without
static char lineText[3 * WIDE_PATH_SIZE];
static char* logBytes;

// Another uninstall holding the log is waited for this long, as the installer waits.
static const DWORD BUSY_WAIT_MS = 10 * 60 * 1000;
static const DWORD PENDING_WAIT_MS = 5000;  // a log marked for deletion goes shortly

static const char* const fallbackTexts[] = {
    "Uninstall %s",
    "Do you want to remove %s and all of its files?",
    "%s has been removed.",
    "%s has been removed. These files were changed or added after the install and have been kept:",
    "The install log %s is missing or damaged. Nothing has been removed.",
    "%s has already been removed.",
    "Can't remove %s"};

static const char usage[] =
    "Usage: uninstall [/S] [/LOG=FILE]\n\n"
    "/S\tsilent: no question, no message\n"
    "/LOG=FILE\tappend a line per event to FILE\n\n"
    "Exit codes: 0 removed, 1602 not confirmed, 1603 failed,\n"
    "1639 command line not understood.";

void ToWide(const char* text, WCHAR* out, int capacity)
{
    if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, out, capacity))
        out[0] = 0;
    out[capacity - 1] = 0;
}

void ToUtf8(const WCHAR* text, char* out, int capacity)
{
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, out, capacity, 0, 0))
        out[0] = 0;
    out[capacity - 1] = 0;
}

void PrefixedWide(const WCHAR* path, WCHAR* out)
{
    if (path[0] == '\\' && path[1] == '\\' && (path[2] == '?' || path[2] == '.')) {
        lstrcpynW(out, path, WIDE_PATH_SIZE);
    } else if (path[0] == '\\' && path[1] == '\\') {
        lstrcpyW(out, L"\\\\?\\UNC");
        lstrcpynW(out + 7, path + 1, WIDE_PATH_SIZE - 7);
    } else {
        lstrcpyW(out, L"\\\\?\\");
        lstrcpynW(out + 4, path, WIDE_PATH_SIZE - 4);
    }
}

void PrefixedPath(const char* directory, const char* relative, WCHAR* out)
{
    static WCHAR joined[WIDE_PATH_SIZE];
    ToWide(directory, joined, WIDE_PATH_SIZE);
    if (relative) {
        int length = lstrlenW(joined);
        if (length && joined[length - 1] != '\\')
            joined[length++] = '\\';
        ToWide(relative, joined + length, WIDE_PATH_SIZE - length);
    }
    PrefixedWide(joined, out);
}

int SameFolder(const WCHAR* a, const WCHAR* b)
{
    static WCHAR longA[WIDE_PATH_SIZE], longB[WIDE_PATH_SIZE];
    if (!GetLongPathNameW(a, longA, WIDE_PATH_SIZE))
        lstrcpynW(longA, a, WIDE_PATH_SIZE);
    if (!GetLongPathNameW(b, longB, WIDE_PATH_SIZE))
        lstrcpynW(longB, b, WIDE_PATH_SIZE);
    WCHAR* both[] = {longA, longB};
    for (WCHAR* p : both) {
        int n = lstrlenW(p);
        while (n > 3 && p[n - 1] == '\\')
            p[--n] = 0;
    }
    return !lstrcmpiW(longA, longB);
}

void LogLine(const char* event, const char* text)
{
    if (!outputLog)
        return;
    static char line[3 * WIDE_PATH_SIZE + 64];
    CopyText(line, event, sizeof(line));
    AppendText(line, ": ", sizeof(line));
    AppendText(line, text, sizeof(line) - 2);
    AppendText(line, "\r\n", sizeof(line));
    DWORD written;
    WriteFile(outputLog, line, TextLength(line), &written, 0);
}

static UINT End(UINT code)
{
    char text[24] = "exit code ";
    LogLine("end", AppendNumber(text, code, sizeof(text)));
    if (outputLog)
        CloseHandle(outputLog);
    outputLog = 0;
    return code;
}

static const char* Text(u32 id)
{
    const char* text = state.log.title ? InstallLogText(&state.log, id) : 0;
    return text ? text : fallbackTexts[id - TEXT_CAPTION];
}

// A box owned by no window (no other program's window can be behind it); logged unless it
// is the question, and under /S logged only, with the answer Yes.
static int Show(u32 id, const char* detail, const char* more, UINT style)
{
    static char text[MESSAGE_SIZE + TEXT_SIZE];
    static WCHAR wideText[MESSAGE_SIZE + TEXT_SIZE];
    static char caption[TEXT_SIZE];
    static WCHAR wideCaption[TEXT_SIZE];
    FormatWithText(text, sizeof(text), id ? Text(id) : "%s", detail);
    if (state.log.title)
        FormatWithText(caption, sizeof(caption), Text(TEXT_CAPTION), state.log.title);
    else
        CopyText(caption, "Uninstall", sizeof(caption));
    // The list that follows a text is logged line by line where it is made.
    if (!(style & MB_YESNO)) {
        char event[24] = "message ";
        LogLine(AppendNumber(event, id, sizeof(event)), text);
    }
    if (more)
        AppendText(text, more, sizeof(text));
    if (state.commandLine.silent)
        return IDYES;
    ToWide(text, wideText, MESSAGE_SIZE + TEXT_SIZE);
    ToWide(caption, wideCaption, TEXT_SIZE);
    return MessageBoxW(0, wideText, wideCaption, style | MB_SETFOREGROUND);
}

static int OpenOutputLog()
{
    if (!state.commandLine.logFile[0])
        return 1;
    static WCHAR name[TEXT_SIZE];
    ToWide(state.commandLine.logFile, name, TEXT_SIZE);
    HANDLE file = CreateFileW(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    outputLog = file;
    return 1;
}

// Reads and checks the log through file; LOG_SOUND or the problem, logged.
static int ReadLog(HANDLE file)
{
    DWORD high = 0, size = GetFileSize(file, &high);
    InstallLogResult result = {LOG_TOO_LARGE, 0};
    if (high || size > INSTALL_LOG_MAX_SIZE)
        return result.problem;
    HANDLE heap = GetProcessHeap();
    if (logBytes)
        HeapFree(heap, 0, logBytes);
    logBytes = (char*)HeapAlloc(heap, 0, size + 1);
    DWORD got = 0;
    if (!logBytes || !ReadFile(file, logBytes, size, &got, 0) || got != size)
        return LOG_NO_MAGIC;
    u32 bound = InstallLogEntryBound(logBytes, size);
    InstallLogItem* items = (InstallLogItem*)HeapAlloc(heap, 0, (bound + 1) * sizeof(InstallLogItem));
    u32* scratch = (u32*)HeapAlloc(heap, 0, (2 * bound + 1) * sizeof(u32));
    static WCHAR windows[MAX_PATH];
    static char windowsFolder[3 * MAX_PATH];
    windowsFolder[0] = 0;
    if (GetSystemWindowsDirectoryW(windows, MAX_PATH))
        ToUtf8(windows, windowsFolder, sizeof(windowsFolder));
    if (!items || !scratch)
        return LOG_TOO_LARGE;
    result = ReadInstallLog(logBytes, size, items, bound, windowsFolder, &state.log);
    if (!result.problem) {
        // A log that does not describe the folder it lies in would delete in another.
        static WCHAR directory[WIDE_PATH_SIZE];
        ToWide(state.log.directory, directory, WIDE_PATH_SIZE);
        if (!SameFolder(directory, state.folder)) {
            state.log.title = 0;
            LogLine("refused", "the install log names another directory");
            return LOG_BAD_ABSOLUTE_PATH;
        }
        InstallLogMarkRepeats(&state.log, scratch);
        return LOG_SOUND;
    }
    CopyText(lineText, "the install log, line ", sizeof(lineText));
    AppendNumber(lineText, result.line, sizeof(lineText));
    AppendText(lineText, ": ", sizeof(lineText));
    LogLine("refused", AppendText(lineText, InstallLogProblemText(result.problem), sizeof(lineText)));
    return result.problem;
}

enum LogState { LOG_HELD, LOG_ABSENT, LOG_GONE_AFTER_WAIT, LOG_UNREADABLE };

// Opens the log for this run alone. A second start finds it held and waits until the
// first is done with it.
static int OpenInstallLog()
{
    int waited = 0;
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE file = CreateFileW(state.logPath, GENERIC_READ | DELETE, FILE_SHARE_READ, 0, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, 0);
        if (file != INVALID_HANDLE_VALUE) {
            state.logHandle = file;
            return LOG_HELD;
        }
        DWORD error = GetLastError(), spent = GetTickCount() - start;
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return waited ? LOG_GONE_AFTER_WAIT : LOG_ABSENT;
        if (error == ERROR_SHARING_VIOLATION && !waited) {
            // The texts, for the message once the other run is done.
            HANDLE shared = CreateFileW(state.logPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
            if (shared != INVALID_HANDLE_VALUE) {
                ReadLog(shared);
                CloseHandle(shared);
            }
            LogLine("wait", "another uninstall holds the install log");
        }
        if (error == ERROR_SHARING_VIOLATION)
            waited = 1;
        else if (error != ERROR_ACCESS_DENIED || spent > PENDING_WAIT_MS)
            return LOG_UNREADABLE;
        if (spent > BUSY_WAIT_MS)
            return LOG_UNREADABLE;
        Sleep(100);
    }
}

static UINT Uninstall()
{
    static WCHAR wide[3 * WIDE_PATH_SIZE];
    lstrcpynW(wide, GetCommandLineW(), 3 * WIDE_PATH_SIZE);
    ToUtf8(wide, lineText, sizeof(lineText));
    CommandLine& line = state.commandLine;
    int understood = ParseCommandLine(lineText, &line);
    // The installer's other options mean nothing here.
    if (understood && (line.installDir[0] || line.noGroup || line.runPostInstall)) {
        understood = 0;
        CopyText(line.unknown, line.installDir[0] ? "/D=" : line.noGroup ? "/NOGROUP" : "/RUN");
    }
    if (line.silent)
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (!OpenOutputLog()) {
        Show(0, "Can't open the log file ", line.logFile, MB_ICONERROR);
        return EXIT_INSTALL_FAILED;
    }
    LogLine("start", lineText);
    if (!understood || line.usage) {
        static char text[TEXT_SIZE + 32];  // empty: this runs once
        if (line.unknown[0])
            AppendText(AppendText(AppendText(text, "Not understood: ", sizeof(text)), line.unknown, sizeof(text)),
                       "\n\n", sizeof(text));
        Show(0, text, usage, line.unknown[0] ? MB_ICONERROR : MB_ICONINFORMATION);
        return End(EXIT_BAD_COMMAND_LINE);
    }

    DWORD length = GetModuleFileNameW(0, state.self, WIDE_PATH_SIZE);
    if (!length || length >= WIDE_PATH_SIZE)
        return End(EXIT_INSTALL_FAILED);
    lstrcpyW(state.folder, state.self);
    int slash = 0;
    for (int i = 0; state.folder[i]; i++)
        if (state.folder[i] == '\\')
            slash = i;
    state.folder[slash] = 0;
    static char programName[TEXT_SIZE], logName[TEXT_SIZE];
    ToUtf8(state.self + slash + 1, programName, TEXT_SIZE);
    InstallLogName(programName, logName);
    lstrcpyW(state.logPath, state.folder);
    lstrcatW(state.logPath, L"\\");
    ToWide(logName, state.logPath + lstrlenW(state.logPath), WIDE_PATH_SIZE - lstrlenW(state.logPath));
    static char logShown[WIDE_PATH_SIZE];
    ToUtf8(state.logPath, logShown, sizeof(logShown));
    LogLine("install log", logShown);

    int opened = OpenInstallLog();
    if (opened == LOG_ABSENT || opened == LOG_GONE_AFTER_WAIT) {
        if (opened == LOG_ABSENT && KeyNamesFolder(state.folder)) {
            Show(TEXT_LOG_DAMAGED, logShown, 0, MB_ICONERROR);
            return End(EXIT_INSTALL_FAILED);
        }
        static char folderShown[WIDE_PATH_SIZE];
        ToUtf8(state.folder, folderShown, sizeof(folderShown));
        Show(TEXT_ALREADY_REMOVED, state.log.title ? state.log.title : folderShown, 0, MB_ICONINFORMATION);
        return End(EXIT_INSTALLED);
    }
    state.log.title = 0;
    if (opened == LOG_UNREADABLE || ReadLog(state.logHandle) != LOG_SOUND) {
        state.log.title = 0;
        Show(TEXT_LOG_DAMAGED, logShown, 0, MB_ICONERROR);
        return End(EXIT_INSTALL_FAILED);
    }
    LogLine("directory", state.log.directory);
    if (!line.silent && Show(TEXT_QUESTION, state.log.title, 0, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return End(EXIT_USER_QUIT);

    static WCHAR temp[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, temp))
        SetCurrentDirectoryW(temp);
    RemoveListed();
    if (state.failures) {
        Show(TEXT_CANNOT_REMOVE, state.failed, 0, MB_ICONERROR);
        return End(EXIT_INSTALL_FAILED);
    }
    DeleteInstallLog();
    if (state.failures) {
        Show(TEXT_CANNOT_REMOVE, state.failed, 0, MB_ICONERROR);
        return End(EXIT_INSTALL_FAILED);
    }
    if (!StartEraser(state.log.createdLevels))
        LogLine("kept", "the uninstaller: no copy could be started to remove it");
    if (state.keptCount)
        Show(TEXT_REMOVED_KEPT, state.log.title, state.kept, MB_ICONINFORMATION);
    else
        Show(TEXT_REMOVED, state.log.title, 0, MB_ICONINFORMATION);
    return End(EXIT_INSTALLED);
}

// No C runtime start-up, as the installer: nothing here needs constructors or its heap.
// Named only by the linker as the entry point, which link-time optimisation does not see.
extern "C" __attribute__((used, externally_visible)) void WinMainCRTStartup()
{
    UINT code;
    if (!RunEraserIfAsked(GetCommandLineW(), &code))
        code = Uninstall();
    ExitProcess(code);
}
