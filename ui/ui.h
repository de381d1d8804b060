// The installer's user interface: the entry, the background window, the dialogs and the
// progress bar, on the one user-interface thread. The core reaches it only through
// archive/platform.h (ui/platform_win32.cpp).
#ifndef QUILL_UI_UI_H
#define QUILL_UI_UI_H

#include <windows.h>

#include "../archive/format.h"

extern HINSTANCE instanceHandle;  // the program's module
extern HWND mainWindow;           // owner of the dialogs: the background window, or the
                                  // install-directory dialog while the folder browser runs
extern HANDLE workerThread;       // the extraction worker; 0 before it starts

// Background window (main.cpp).
void PaintBackground(HWND window);

// Install-directory dialog (install_dialog.cpp).
INT_PTR CALLBACK InstallDirectoryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int ApplyInstallDirectory(HWND dialog);  // nonzero: accepted, created and current
int MakeInstallPath(char* path);         // 0, or message 7 / 8

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
void StartGroupConversation(HWND client);
void ContinueGroupConversation(HWND client, WPARAM wParam, LPARAM lParam);

// Progress dialog and the worker's break hold (progress_dialog.cpp).
void RunProgressDialog();
int HoldWorkerAtSafePoint();  // the worker's side of the hold; nonzero: break confirmed
// A close request from outside (taskkill, a logoff) while the worker runs: the install ends
// as a confirmed break does, without the question. Nonzero when it did; the background
// window then closes once RunProgressDialog has returned.
int EndProgressOnClose();

// Progress bar control "Diagr" (progress_bar.cpp).
void RegisterBarClass(HINSTANCE instance);

// Shows message id in a box owned by owner, with message captionId as its caption; the
// text's one %s, if any, is filled with detail when detail is given.
void ShowMessage(HWND owner, int id, const char* detail, int captionId, UINT style);

#endif
