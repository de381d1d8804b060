// The installer's user interface: the entry, the background window, the dialogs and the
// progress bar, on the one user-interface thread. The core reaches it only through
// archive/platform.h (ui/platform_win32.cpp).
#ifndef QUILL_UI_UI_H
#define QUILL_UI_UI_H

#include <windows.h>

#include "../archive/format.h"
#include "../archive/text.h"
#include "command_line.h"

// Texts and paths crossing to the system (system_text.cpp): the installer's are UTF-8,
// the system's UTF-16 in buffers of WIDE_SIZE units (a UTF-8 text of TEXT_SIZE bytes fits).
enum { WIDE_SIZE = TEXT_SIZE };
WCHAR* Wide(const char* text, WCHAR* wide);             // into WIDE_SIZE units; returns wide
WCHAR* WideIn(const char* text, WCHAR* wide, u32 capacity);  // a text cut to capacity units
u32 Narrow(const WCHAR* wide, char* text, u32 capacity); // its length; 0 and empty when it does not fit
u32 Narrow(const WCHAR* wide, char* text);              // the same into TEXT_SIZE bytes
void SetText(HWND window, const char* text);
void SetItemText(HWND dialog, int control, const char* text);
u32 GetItemText(HWND dialog, int control, char* text);  // TEXT_SIZE bytes; 255 characters at most
// The character set of the archive's code page, for a font that must hold its letters
// (the background's title) whatever the system's code page.
BYTE ArchiveCharset();
// A text value of 255 characters at most (REG_SZ or REG_EXPAND_SZ, not expanded) into
// text, TEXT_SIZE bytes; nonzero when it was read and is not empty.
int ReadRegistryText(HKEY root, const char* keyPath, const WCHAR* name, char* text);

extern HINSTANCE instanceHandle;  // the program's module
extern HWND mainWindow;           // owner of the dialogs: the background window, or the
                                  // install-directory dialog while the folder browser runs
extern HANDLE workerThread;       // the extraction worker; 0 before it starts

// The DPI window is drawn at (dpi.cpp): the system's, or the window's own monitor's.
u32 WindowDpi(HWND window);

// Background window (main.cpp).
void PaintBackground(HWND window);
// Dialog id as a modal dialog owned by mainWindow; its EndDialog result.
INT_PTR RunDialog(int id, DLGPROC proc, LPARAM parameter);

// Install-directory dialog (install_dialog.cpp).
INT_PTR CALLBACK InstallDirectoryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int ApplyInstallDirectory(HWND dialog);  // nonzero: accepted, created and current
// Makes text the install directory: absolute, room enough on its drive, created and
// current. Returns 0, or the message id of the failure, which has been shown (owner 0:
// the silent install, where it is logged).
int SetUpInstallDirectory(HWND owner, const char* text);
int MakeInstallPath(char* path);         // 0, or message 7 / 8
extern u32 createdLevels;                // levels of the install directory MakeInstallPath made

// The uninstall's entry (uninstall_key.cpp): an earlier install's directory, when the
// archive's id has one, replaces installDir (the default).
void StartFromEarlierInstall(char* installDir);
int PerUserInstall();  // nonzero when the archive's uninstall scope is the user's

// Folder browser (browser.cpp). Each field holds TEXT_SIZE bytes.
struct BrowseRequest {
    char startPath[TEXT_SIZE];   // where browsing starts; may be empty
    char leafName[TEXT_SIZE];    // appended to the shown path; empty means none
    char currentDir[TEXT_SIZE];  // the browser's current folder
    char result[TEXT_SIZE];      // the path field's text on OK
};
int BrowseForFolder(BrowseRequest* request);  // nonzero when the user confirmed a folder
void LoadBrowserBitmaps();
void FreeBrowserBitmaps();

// Program group (group.cpp): CMD_CREATE_GROUP and WM_DDE_ACK of the background window.
// The conversation must not block: it goes on in messages to the client window, which
// the silent install keeps handling (a window never shown) until
// GroupConversationRunning gives 0 or a time limit passes.
void CreateGroup(HWND client);  // does nothing unless createGroup is set
void ContinueGroupConversation(HWND client, WPARAM wParam, LPARAM lParam);
int GroupConversationRunning();  // nonzero from the start until it has ended or given up
// The group named group as shortcuts (shortcuts.cpp), made by CreateGroup: 0 when the
// archive does not ask for them (the conversation then runs); else 1, whatever could be made.
int CreateShortcuts(const char* group);

// Progress dialog and the worker's break hold (progress_dialog.cpp).
int RunProgressDialog();  // 0, OUTCOME_QUIT after a break, or the failure's message id
DWORD WINAPI WorkerEntry(LPVOID parameter);  // the worker thread, the silent install's too
// The worker's failure code as its message (with detailText where it has a %s), shown or,
// in a silent install, logged; returns code.
int ShowWorkerFailure(int code);
int HoldWorkerAtSafePoint();  // the worker's side of the hold; nonzero: break confirmed
// A close request from outside (taskkill, a logoff) while the worker runs: the install ends
// as a confirmed break does, without the question. Nonzero when it did; the background
// window then closes once RunProgressDialog has returned.
int EndProgressOnClose();

// Progress bar control "Diagr" (progress_bar.cpp).
void RegisterBarClass(HINSTANCE instance);
// Nonzero when the bar on the screen would look the same at position, short of its end:
// the worker's report of it need not be sent. Any thread; the bar's copy of its last
// picture is read.
int BarShows(u32 position);

// Shows message id in a box owned by owner, with message captionId as its caption; the
// text's one %s, if any, is filled with detail when detail is given.
void ShowMessage(HWND owner, int id, const char* detail, int captionId, UINT style);
// Sets dialog controls' texts to messages (install_dialog.cpp): labels holds pairs of a
// control (LABEL_CAPTION: the dialog's own caption) and a message id, ended by a 0; they are
// set in that order.
enum { LABEL_CAPTION = 0xFFFF };
void SetItemMessages(HWND dialog, const u16* labels);
// The same as ShowMessage with message id formatted with count arguments (none: shown as it is), through
// ShowBox; returns its answer.
int ShowFormatted(HWND owner, int id, const FormatArgument* arguments, u32 count, int captionId,
                  UINT style);

// The command line and what it adds (unattended.cpp).
extern CommandLine commandLine;
int OpenLog();   // opens /LOG='s file for appending; 0 when it cannot be opened
int Logging();   // nonzero while a log is open
// Appends "event: text" as one line; nothing without a log. Any thread.
void LogLine(const char* event, const char* text);
int EndLog(int exitCode);  // logs the end and closes the log; returns exitCode
// Every message box goes through here: logged (with its message id, if any, but not a
// yes/no question), and shown unless the install is silent, where the answer is the one
// that gives up (Cancel, No) or OK.
int ShowBox(HWND owner, int id, const char* text, const char* caption, UINT style);
int ShowUsage();  // the usage, shown or logged; returns EXIT_BAD_COMMAND_LINE
// After the instance counter's increment (first: it gave 0), for the first start or a
// silent one: nonzero when this process may install. A silent second start waits for the
// running one to end, 10 minutes at most.
int ClaimInstance(int first);
int RunSilentInstall();  // the silent install's outcome (as RunProgressDialog's)

#endif
