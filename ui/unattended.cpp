// What the command line adds to the install: the log, message boxes that a silent install
// writes to the log instead of showing, the wait of a silent second start for the first,
// and the silent install itself, which runs the install-directory step and the worker
// without any window being shown.
#include "ui.h"

#include "../archive/abort.h"
#include "../archive/context.h"
#include "../archive/messages.h"
#include "../archive/platform.h"
#include "../archive/text.h"
#include "../extract/worker.h"

CommandLine commandLine;

// The process running the install from this program file, for a silent second start to
// wait for; shared like the instance counter (main.cpp). 0 until the first has stored itself.
__attribute__((section(".Shared"), shared)) volatile LONG runningProcess = 0;

static HANDLE logFile;  // 0 without /LOG=

// A silent second start waits this long for the first to end.
static const DWORD INSTANCE_WAIT_MS = 10 * 60 * 1000;
// The group conversation is the shell's work: it gets this long once the files are in.
static const DWORD GROUP_WAIT_MS = 10000;

int OpenLog()
{
    if (!commandLine.logFile[0])
        return 1;
    // Append-only access: each line lands at the end in one write, whichever thread
    // writes it, and the log stays readable while the install runs.
    WCHAR name[WIDE_SIZE];
    HANDLE file = CreateFileW(Wide(commandLine.logFile, name), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    logFile = file;
    // UTF-8, said at the start of a new log so that every editor reads it so.
    if (!PlatFileSize(file))
        PlatWrite(file, "\xEF\xBB\xBF", 3);
    return 1;
}

int Logging()
{
    return logFile != 0;
}

void LogLine(const char* event, const char* text)
{
    if (!logFile)
        return;
    char line[2 * TEXT_SIZE + 32];
    FormatWithText(line, sizeof(line), "%s: ", event);
    // The text cut so that the line end always fits.
    u32 length = TextLength(AppendText(line, text, sizeof(line) - 2));
    line[length++] = '\r';
    line[length++] = '\n';
    PlatWrite(logFile, line, length);
}

// The end line, with the exit code; every way out of the program passes here.
int EndLog(int exitCode)
{
    char text[24];
    LogLine("end", FormatWithNumber(text, sizeof(text), "exit code %u", (u32)exitCode));
    if (HANDLE file = Taken(&logFile))
        PlatClose(file);
    return exitCode;
}

int ShowBox(HWND owner, int id, const char* text, const char* caption, UINT style)
{
    // Questions are not events; what they lead to is.
    if (!(style & MB_YESNO)) {
        // "message", and a blank and the id when there is one: without one, the room for
        // "message" alone, where the number's digits find none.
        char event[24];
        u32 room = id ? sizeof(event) : sizeof("message");
        LogLine(FormatWithNumber(event, room, "message %u", (u32)id), text);
    }
    // Nobody to answer: the volume prompt gives up, and so does every question.
    int answer = style & MB_OKCANCEL ? IDCANCEL : style & MB_YESNO ? IDNO : IDOK;
    if (!commandLine.silent) {
        WCHAR wideText[WIDE_SIZE], wideCaption[STORED_TEXT_SIZE];
        answer = MessageBoxW(owner, Wide(text, wideText), WideIn(caption, wideCaption, STORED_TEXT_SIZE), style);
    }
    return answer;
}

int ShowUsage()
{
    char text[1024];
    text[0] = 0;
    if (commandLine.unknown[0])
        FormatWithText(text, sizeof(text), "Not understood: %s\n\n", commandLine.unknown);
    AppendText(text, usageText, sizeof(text));
    ShowBox(0, 0, text, "Setup", commandLine.unknown[0] ? MB_ICONERROR : MB_ICONINFORMATION);
    return EXIT_BAD_COMMAND_LINE;
}

// Handles this thread's messages until object is signalled (0: none) or the time is up.
static void PumpMessages(HANDLE object, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        // No WM_QUIT can come here: only the background window's end posts one.
        while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds)
            return;
        // WAIT_OBJECT_0 + count is the input's: below it, the object's signal.
        DWORD count = object != 0;
        if (MsgWaitForMultipleObjectsEx(count, &object, milliseconds - spent, QS_ALLINPUT,
                                        MWMO_INPUTAVAILABLE) < WAIT_OBJECT_0 + count)
            return;
    }
}

int ClaimInstance(int first)
{
    LONG self = (LONG)GetCurrentProcessId();
    if (first) {
        runningProcess = self;
        return 1;
    }
    // Scripts start installers back to back: wait for the running one, then take its
    // place, unless another waiter took it first, whom we then wait for in turn.
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= INSTANCE_WAIT_MS)
            return 0;
        LONG owner = runningProcess;
        if (!owner) {  // the first has not stored itself yet
            PumpMessages(0, 50);
            continue;
        }
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)owner);
        if (process) {
            DWORD waited = WaitForSingleObject(process, INSTANCE_WAIT_MS - spent);
            CloseHandle(process);
            if (waited != WAIT_OBJECT_0)
                return 0;
        }
        if (InterlockedCompareExchange(&runningProcess, self, owner) == owner)
            return 1;
    }
}

int RunSilentInstall()
{
    context.createGroup = context.header.groupItemCount && !commandLine.noGroup;
    char text[TEXT_SIZE];
    CopyText(text, context.installDir);
    int outcome = SetUpInstallDirectory(0, text);
    if (outcome)
        return outcome;
    LogLine("directory", context.installDir);

    // No progress dialog: the worker's texts and bar commands go to no window (the
    // dialog's field, like the volume's, is still 0 in the one run a process has).
    // A worker that cannot start, or whose end cannot be read, is a system error.
    DWORD threadId, code = MSG_SYSTEM_ERROR;
    HANDLE thread = CreateThread(0, 0, WorkerEntry, 0, 0, &threadId);
    workerThread = thread;
    if (thread) {
        PumpMessages(thread, INFINITE);
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        workerThread = 0;
    }
    if (code)
        return ShowWorkerFailure((int)code);
    // The worker posted CMD_CREATE_GROUP before it ended; the conversation it starts
    // needs this thread's messages until it is over.
    DWORD start = GetTickCount();
    for (PumpMessages(0, 0); GroupConversationRunning(); PumpMessages(0, 100))
        if (GetTickCount() - start > GROUP_WAIT_MS) {
            LogLine("group", "no answer from the program manager");
            break;
        }
    return 0;
}
