// The install-directory dialog: shows the default directory and the space needed, and on
// OK makes the path absolute, checks the free space, creates every missing directory and
// leaves the process's current directory there, where the worker writes.
#include "shell_text.h"
#include "ui.h"

#include "../archive/context.h"
#include "../archive/messages.h"
#include "../archive/platform.h"
#include "../archive/text.h"
#include "../resources/resource.h"

void SetItemMessages(HWND dialog, const u16* labels)
{
    char text[TEXT_SIZE];
    for (; *labels; labels += 2)
        SetText(labels[0] == LABEL_CAPTION ? dialog : GetDlgItem(dialog, labels[0]),
                LookupMessage(labels[1], text, TEXT_SIZE));
}

static void InitInstallDirectory(HWND dialog)
{
    SetClassLongW(dialog, GCL_HICON,
                  (LONG)(LONG_PTR)LoadIconA(instanceHandle, MAKEINTRESOURCEA(IDI_INSTALLER)));
    SetText(dialog, windowTitle);
    SetItemText(dialog, IDC_INSTALL_PATH, context.installDir);
    static const u16 labels[] = {IDC_PATH_FRAME, MSG_INSTALL_DIRECTORY, IDC_BROWSE, MSG_BROWSE,
                                 IDC_CREATE_FOLDER, MSG_CREATE_FOLDER, IDC_INSTALL_OK, MSG_OK,
                                 IDC_QUIT, MSG_EXIT, 0};
    SetItemMessages(dialog, labels);

    char format[TEXT_SIZE], text[TEXT_SIZE];
    LookupMessage(MSG_REQUIRED_SPACE, format, TEXT_SIZE);
    SetItemText(dialog, IDC_REQUIRED_SPACE,
                FormatWithNumber(text, TEXT_SIZE, format, context.header.totalSize / 1000));

    // Checked with group items; without, unchecked and disabled (the template enables it).
    HWND box = GetDlgItem(dialog, IDC_CREATE_FOLDER);
    BOOL group = context.header.groupItemCount != 0;
    SendMessageW(box, BM_SETCHECK, group ? BST_CHECKED : BST_UNCHECKED, 0);
    EnableWindow(box, group);
}

static void AskToQuit(HWND dialog)
{
    // The dialog is never up in a silent install: the box is shown, and a question is no event.
    if (ShowFormatted(dialog, MSG_QUIT_QUESTION, 0, 0, MSG_CONFIRMATION, MB_ICONQUESTION | MB_YESNO) == IDYES)
        EndDialog(dialog, 0);
}

static void Browse(HWND dialog)
{
    // No leaf name; the browser writes the other fields before it reads them.
    BrowseRequest request;
    request.leafName[0] = 0;
    GetItemText(dialog, IDC_INSTALL_PATH, request.startPath);
    HWND owner = mainWindow;
    mainWindow = dialog;
    int chosen = BrowseForFolder(&request);
    mainWindow = owner;
    if (chosen)
        SetItemText(dialog, IDC_INSTALL_PATH, request.result);
}

int MakeInstallPath(char* path)
{
    char components[TEXT_SIZE];
    CopyText(components, path);
    // The root first ("c:\", the path cut behind it for the moment), then each name after
    // it, cut off at its backslash, is entered or made and entered.
    char* name = components + 3;
    char first = *name;
    *name = 0;
    if (!PlatSetCurrentDirectory(components))
        return MSG_CANT_OPEN_DIRECTORY;
    *name = first;
    createdLevels = 0;
    for (char* end = name;; end++) {
        char c = *end;
        if (c && c != '\\')
            continue;
        *end = 0;
        // A doubled backslash leaves an empty component: nothing to enter.
        if (*name && !PlatSetCurrentDirectory(name)) {
            if (!PlatCreateDirectory(name))
                return MSG_CANT_CREATE_DIRECTORY;
            createdLevels++;
            if (!PlatSetCurrentDirectory(name))
                return MSG_CANT_OPEN_DIRECTORY;
        }
        if (!c)
            break;
        name = end + 1;
    }
    PlatGetCurrentDirectory(path, TEXT_SIZE);
    return 0;
}

// Turns the edit text into an absolute drive path in installDir; 0 or the refusing message.
static int AbsoluteInstallPath(const char* text)
{
    // Past 255 characters the current directory is none (empty, length 0): a relative text
    // is refused.
    char current[TEXT_SIZE];
    PlatGetCurrentDirectory(current, TEXT_SIZE);
    return InstallPathFromText(context.installDir, text, current, TextCharacters(current));
}

int ApplyInstallDirectory(HWND dialog)
{
    context.createGroup =
        SendDlgItemMessageW(dialog, IDC_CREATE_FOLDER, BM_GETCHECK, 0, 0) == BST_CHECKED;
    char text[TEXT_SIZE];
    GetItemText(dialog, IDC_INSTALL_PATH, text);
    return SetUpInstallDirectory(dialog, text) == 0;
}

int SetUpInstallDirectory(HWND owner, const char* text)
{
    int failure = AbsoluteInstallPath(text);
    if (!failure) {
        char root[4] = {context.installDir[0], ':', '\\', 0};
        DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
        if (GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
            u64 freeThousands = FreeThousands(bytesPerSector, sectorsPerCluster, freeClusters);
            u32 needThousands = context.header.totalSize / 1000;
            if (needThousands > freeThousands) {
                FormatArgument figures[2] = {{0, (u32)freeThousands}, {0, needThousands}};
                ShowFormatted(owner, MSG_NOT_ENOUGH_SPACE, figures, 2, MSG_ATTENTION,
                              MB_ICONINFORMATION | MB_OK);
                return MSG_NOT_ENOUGH_SPACE;
            }
        }
        failure = MakeInstallPath(context.installDir);
    }
    if (failure)
        ShowMessage(owner, failure, context.installDir, MSG_ERROR, MB_ICONERROR | MB_OK);
    return failure;
}

INT_PTR CALLBACK InstallDirectoryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        InitInstallDirectory(dialog);
        return TRUE;
    }
    // The close box asks as the quit button does; only its message counts as handled.
    INT_PTR handled = message == WM_SYSCOMMAND && wParam == SC_CLOSE;
    if (handled)
        wParam = IDC_QUIT;
    else if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDC_INSTALL_OK:
        if (ApplyInstallDirectory(dialog))
            EndDialog(dialog, 1);
        break;
    case IDC_BROWSE:
        Browse(dialog);
        break;
    case IDC_QUIT:
        AskToQuit(dialog);
        break;
    }
    return handled;
}
