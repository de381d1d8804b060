// The progress dialog: starts the extraction worker, shows what it reports, lets the user
// break off, and reports the worker's failure once the dialog is gone.
//
// Breaking off holds the worker instead of suspending it: a thread suspended inside a heap
// or file call keeps that call's lock, and the interface thread would hang on it. The
// worker looks at the hold request at its safe points (before each record and at each
// progress report) and waits there until the user has answered. Until the worker holds,
// the interface thread keeps handling the messages the worker sends it, so neither thread
// waits for the other; once it holds, the bar and the status line stand still.
#include "ui.h"

#include "../archive/abort.h"
#include "../archive/commands.h"
#include "../archive/context.h"
#include "../archive/held.h"
#include "../archive/messages.h"
#include "../archive/text.h"
#include "../extract/worker.h"
#include "../resources/resource.h"

// The dialog's and the hold's state, one record: the functions that reach into it many
// times hold its address.
static struct ProgressState {
    HANDLE heldEvent;              // auto reset: the worker holds at a safe point; the
                                   // break's wait for it takes the signal
    volatile LONG holdRequested;   // interface -> worker: stop at the next safe point
    volatile LONG breakConfirmed;  // the verdict, valid when releaseEvent is set
    HANDLE releaseEvent;           // auto reset: the worker may go on with the verdict
    int asking;                    // the break question is being prepared or shown
    volatile LONG closeRequested;  // a close from outside: break at the next safe point
    HWND runningDialog;            // the progress dialog while it is up; else 0
    DWORD workerThreadId;          // whose prompts a close request cancels
} progress;

int HoldWorkerAtSafePoint()
{
    auto& p = *Held(&progress);
    if (p.closeRequested)
        return 1;
    if (!p.holdRequested)
        return 0;
    SetEvent(p.heldEvent);
    WaitForSingleObject(p.releaseEvent, INFINITE);
    return p.breakConfirmed;
}

// Waits until one of the objects is signalled, handling this thread's messages meanwhile
// (the worker's SendMessage calls among them). Returns the index of the object.
static DWORD WaitPumping(DWORD count, const HANDLE* objects, HWND dialog)
{
    int quit = 0;
    DWORD woken;
    while ((woken = MsgWaitForMultipleObjectsEx(count, objects, INFINITE, QS_ALLINPUT,
                                                MWMO_INPUTAVAILABLE)) == WAIT_OBJECT_0 + count) {
        MSG message;
        while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) {
            // A quit belongs to the loop further out: kept, and posted again on return. Its
            // code is not kept: that loop only ends on it, the exit code is the install's.
            if (message.message == WM_QUIT) {
                quit = 1;
            } else if (!dialog || !IsDialogMessageW(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
    if (quit)
        PostQuitMessage(0);
    return woken - WAIT_OBJECT_0;
}

DWORD WINAPI WorkerEntry(LPVOID parameter)
{
    return ExtractionWorker(parameter);
}

static void InitProgress(HWND dialog)
{
    auto& p = *Held(&progress);
    SetText(dialog, windowTitle);
    SetItemText(dialog, IDC_STATUS, "");
    static const u16 labels[] = {IDC_TOP_LINE, MSG_TOP_LINE, IDC_ACTION, MSG_BREAK, 0};
    SetItemMessages(dialog, labels);
    context.progressDialog = dialog;
    p.runningDialog = dialog;

    // Nothing to clear first: the dialog is up once a process, before any volume is open,
    // hold asked for or worker started. The handles are tested from locals, not read back
    // from the fields just stored.
    HANDLE held = CreateEventA(0, FALSE, FALSE, 0), release = CreateEventA(0, FALSE, FALSE, 0);
    p.heldEvent = held;
    p.releaseEvent = release;
    HANDLE thread = 0;
    if (held && release)
        workerThread = thread = CreateThread(0, 0, WorkerEntry, dialog, 0, &p.workerThreadId);
    // Without a worker there is nothing to show: RunProgressDialog reports it.
    if (!thread)
        EndDialog(dialog, 1);
}

static int WorkerRunning()
{
    // A thread's handle is signalled once it has ended; 0, no worker, fails the wait.
    return WaitForSingleObject(workerThread, 0) == WAIT_TIMEOUT;
}

static void OnActionButton(HWND dialog)
{
    auto& p = *Held(&progress);
    if (!WorkerRunning()) {
        EndDialog(dialog, 1);
        return;
    }
    if (p.asking)  // a second press while the question is on its way
        return;
    p.asking = 1;
    p.breakConfirmed = 0;
    InterlockedExchange(&p.holdRequested, 1);
    HANDLE objects[2] = {p.heldEvent, workerThread};
    if (WaitPumping(2, objects, dialog) != 0) {
        // The worker ended before reaching a safe point (finished, or failed and said so):
        // the press counts as one made after its end.
        InterlockedExchange(&p.holdRequested, 0);
        p.asking = 0;
        EndDialog(dialog, 1);
        return;
    }
    // A question, never logged: ShowBox shows it as it stands.
    int answer = ShowFormatted(dialog, MSG_BREAK_QUESTION, 0, 0, MSG_CONFIRMATION, MB_ICONQUESTION | MB_YESNO);
    // Cleared before the release, so the worker does not hold again at its next safe point.
    InterlockedExchange(&p.holdRequested, 0);
    p.breakConfirmed = answer == IDYES;
    SetEvent(p.releaseEvent);
    p.asking = 0;
    // The worker ends itself, releasing what it holds, and touches no window on its way.
    if (answer == IDYES)
        EndDialog(dialog, 0);
}

static INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        InitProgress(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        if (LOWORD(wParam) == IDC_ACTION)
            OnActionButton(dialog);
        else if (LOWORD(wParam) == ID_WORKER_ABORTED)
            EndDialog(dialog, 1);
    }
    return FALSE;
}

// Answers a dialog box that the progress dialog owns on the thread enumerated: on the
// interface thread the break question (Yes), on the worker's the volume prompt or the
// open-file dialog (Cancel). lParam is the answer.
static BOOL CALLBACK AnswerOwnedBox(HWND window, LPARAM answer)
{
    // The dialog class "#32770" is the atom 0x8002 (WC_DIALOG).
    if (GetWindow(window, GW_OWNER) == progress.runningDialog &&
        GetClassLongW(window, GCW_ATOM) == (DWORD)(UINT_PTR)WC_DIALOG)
        PostMessageA(window, WM_COMMAND, (WPARAM)answer, 0);
    return TRUE;
}

int EndProgressOnClose()
{
    auto& p = *Held(&progress);
    if (!p.runningDialog || !WorkerRunning())
        return 0;
    InterlockedExchange(&p.closeRequested, 1);
    // A worker held at the break question is let go with the same verdict.
    if (p.asking) {
        p.breakConfirmed = 1;
        SetEvent(p.releaseEvent);
    }
    // Nobody is there to answer what is showing: it is answered for them, or the process
    // would wait on it for ever. The worker stops once its prompt has gone.
    EnumThreadWindows(GetCurrentThreadId(), AnswerOwnedBox, IDYES);
    EnumThreadWindows(p.workerThreadId, AnswerOwnedBox, IDCANCEL);
    EndDialog(p.runningDialog, 0);
    return 1;
}

int RunProgressDialog()
{
    auto& p = *Held(&progress);
    INT_PTR result = RunDialog(IDD_PROGRESS, ProgressProc, 0);
    p.runningDialog = 0;
    DWORD code = MSG_SYSTEM_ERROR;
    // Also after a break: the worker is on its way out and waits for nobody, and its files
    // are closed before the program ends. Without a worker (0) the wait, the reading of its
    // end and the close each fail at once: the code stays the system error.
    WaitPumping(1, &workerThread, 0);
    GetExitCodeThread(workerThread, &code);
    CloseHandle(Taken(&workerThread));
    // An event that could not be made is 0, which CloseHandle refuses and leaves alone.
    CloseHandle(p.heldEvent);
    CloseHandle(p.releaseEvent);
    // A worker that reached its end installed everything, whatever closed the dialog; a
    // break shows nothing, also one that won the race with a press after the close.
    if (code == 0)
        return 0;
    if (result == 0 || code == WORKER_BROKEN)
        return OUTCOME_QUIT;
    return ShowWorkerFailure((int)code);
}

int ShowWorkerFailure(int code)
{
    ShowMessage(mainWindow, code, MessagePlaceholders(code) == PLACEHOLDERS_STRING ? detailText : 0, MSG_ERROR,
                MB_ICONERROR | MB_OK);
    return code;
}
