// The folder browser behind the install-directory dialog's Browse button: a drop-down list
// of the drives and a list of the open path from the root down to the current folder,
// followed by that folder's subfolders, each line with a picture. It works by changing
// the process's current directory, so the folder shown is always the current one, also
// after the dialog has closed.
//
// Bounds: paths are held in TEXT_SIZE bytes of UTF-8, the lists' entries in UTF-16. A
// current directory longer than 254 characters shows no path entries, only its subfolders;
// a folder whose joined path would not fit cannot be entered (message 7 with the path cut
// to fit); list entries hold the three depth digits and a name of at most 255 characters.
#include "ui.h"

#include "desktop_text.h"
#include "shell_text.h"
#include "../archive/messages.h"
#include "../archive/platform.h"
#include "../archive/text.h"
#include "../resources/resource.h"

// Declared by the SDK without dllimport: called through the import address table, so that
// the call is relocated (see FreeDDElParam in group.cpp).
extern "C" __declspec(dllimport) DWORD WINAPI WNetGetConnectionW(LPCWSTR, LPWSTR, LPDWORD);

// Kinds of folder list entries, kept as each entry's item data.
enum FolderKind {
    FOLDER_ANCESTOR = 1,  // on the path above the current folder, the root included
    FOLDER_CURRENT = 2,
    FOLDER_CHILD = 3      // a subfolder of the current folder
};

enum {
    BITMAP_COUNT = IDB_CURRENT_FOLDER - IDB_CDROM + 1,
    ENTRY_SIZE = TEXT_SIZE + 8,  // three depth digits and a name of up to 255 characters
    DEPTH_INDENT = 8,            // pixels per level of the folder list
    PICTURE_SIZE = 16,
    TEXT_OFFSET = 22             // from the picture's left edge to the text
};

static HBITMAP bitmaps[BITMAP_COUNT];  // by resource id - IDB_CDROM; loaded at start-up
static BrowseRequest* request;         // the caller's request, while the dialog runs
static HWND browser;                   // the dialog, while it runs
static WNDPROC listProc;               // the folder list's own window procedure

// Pictures by drive type (GetDriveTypeA, 0 to 6) and by folder kind; 0: none.
static const u8 drivePictures[] = {0, 0, IDB_REMOVABLE, IDB_FIXED, IDB_NETWORK, IDB_CDROM, IDB_RAMDISK};
static const u8 folderPictures[] = {0, IDB_OPEN_FOLDER, IDB_CURRENT_FOLDER, IDB_CLOSED_FOLDER};

void LoadBrowserBitmaps()
{
    for (int i = 0; i < BITMAP_COUNT; i++)
        bitmaps[i] = LoadBitmapA(instanceHandle, MAKEINTRESOURCEA(IDB_CDROM + i));
}

void FreeBrowserBitmaps()
{
    for (int i = 0; i < BITMAP_COUNT; i++)
        DeleteObject(bitmaps[i]);
}

// A message to one of the two lists, which the message itself names: the folder list's
// list box messages all lie above the drive list's combo box ones.
__attribute__((noinline)) static LRESULT SendList(UINT message, WPARAM wParam, LPARAM lParam)
{
    static_assert(IDC_DRIVE_LIST == IDC_FOLDER_LIST + 1 && CB_MSGMAX <= LB_ADDSTRING, "the lists by message");
    return SendDlgItemMessageW(browser, IDC_DRIVE_LIST - (message >= LB_ADDSTRING), message, wParam, lParam);
}

__attribute__((noinline)) static HWND FolderList()
{
    return GetDlgItem(browser, IDC_FOLDER_LIST);
}

// A list message that carries a text (add, select): the text crosses as UTF-16.
__attribute__((noinline)) static LRESULT SendText(UINT message, WPARAM wParam, const char* text)
{
    WCHAR wide[WIDE_SIZE];
    return SendList(message, wParam, (LPARAM)Wide(text, wide));
}

// Selects the first drive entry that starts with text ("c:"); its index.
static LRESULT SelectDrive(const char* text)
{
    return SendText(CB_SELECTSTRING, (WPARAM)-1, text);
}

// A list's entry index in UTF-8 (ENTRY_SIZE bytes); empty when there is none. Every entry
// is one of ours, a name of 259 characters at most behind its digits: it fits.
__attribute__((noinline)) static void GetEntry(UINT message, WPARAM index, char* entry)
{
    WCHAR wide[ENTRY_SIZE];
    wide[0] = 0;
    SendList(message, index, (LPARAM)wide);
    Narrow(wide, entry, ENTRY_SIZE);
}

// The masks have one bit a pixel: copied onto the entry they take the text colour for
// black and the background colour for white, so those are black and white meanwhile.
// At size pixels a side: stretched pixel by pixel (the nearest source pixel), the mask
// as its picture, so that their edges stay together.
static void DrawPicture(HDC dc, int x, int y, int size, int picture, int mask)
{
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    SetStretchBltMode(dc, COLORONCOLOR);
    HDC memory = CreateCompatibleDC(dc);
    // The mask first (AND), then the picture over it (OR). Kept a loop: unrolled, the second
    // call's eleven arguments take more room than the loop does.
    int layer = mask;
    DWORD operation = SRCAND;
    HGDIOBJ old = 0;
#pragma GCC unroll 1
    for (int i = 0; i < 2; i++) {
        HGDIOBJ previous = SelectObject(memory, bitmaps[layer - IDB_CDROM]);
        if (!i)
            old = previous;
        StretchBlt(dc, x, y, size, size, memory, 0, 0, PICTURE_SIZE, PICTURE_SIZE, operation);
        layer = picture;
        operation = SRCPAINT;
    }
    // The context's own bitmap back before it goes, as GDI asks: the picture stays free.
    SelectObject(memory, old);
    DeleteDC(memory);
}

// ScaleForDpi as a call: at the browser's six uses shorter than its multiply and division.
__attribute__((noinline)) static int Scaled(int value, u32 dpi)
{
    return ScaleForDpi(value, dpi);
}

static void DrawEntry(const DRAWITEMSTRUCT* item)
{
    // An empty list asks for its focus alone, with no entry; another control's request is
    // none of the lists'.
    if ((int)item->itemID < 0 || (item->CtlID != IDC_FOLDER_LIST && item->CtlID != IDC_DRIVE_LIST))
        return;
    HDC dc = item->hDC;
    u32 dpi = WindowDpi(item->hwndItem);
    int size = Scaled(PICTURE_SIZE, dpi);
    int selected = (item->itemState & ODS_SELECTED) != 0;
    int background = selected ? COLOR_HIGHLIGHT : COLOR_WINDOW;
    RECT box = item->rcItem;
    FillRect(dc, &box, (HBRUSH)(INT_PTR)(background + 1));  // a system colour's brush

    // The entry in UTF-8, as it was added, for its digits; drawn widened again (a name of
    // 255 characters has 765 bytes at most: Wide never cuts it).
    char entry[ENTRY_SIZE];
    const char* shown = entry;
    int picture = 0, mask = IDB_DRIVE_MASK;
    ULONG_PTR data = item->itemData;
    int drive = item->CtlID == IDC_DRIVE_LIST;
    GetEntry(drive ? CB_GETLBTEXT : LB_GETTEXT, item->itemID, entry);
    if (drive) {
        if (data < sizeof(drivePictures))
            picture = drivePictures[data];
    } else {
        if (data < sizeof(folderPictures))
            picture = folderPictures[data];
        mask = data == FOLDER_CHILD ? IDB_CLOSED_FOLDER_MASK : IDB_OPEN_FOLDER_MASK;
        // Every folder entry starts with its three depth digits (FolderEntryText); a text
        // that could not be read is empty, at depth 0.
        box.left += Scaled(FolderEntryDepth(entry) * DEPTH_INDENT, dpi);
        shown = entry + (entry[0] ? 3 : 0);
    }
    if (picture && box.top >= 0) {
        int y = box.top + (box.bottom - box.top - size) / 2;
        DrawPicture(dc, box.left + Scaled(2, dpi), y < 0 ? 0 : y, size, picture, mask);
    }
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    // Over the background just filled: the text needs none of its own.
    SetBkMode(dc, TRANSPARENT);
    box.left += Scaled(TEXT_OFFSET, dpi);
    WCHAR wide[WIDE_SIZE];
    DrawTextW(dc, Wide(shown, wide), -1, &box, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

// Adds the entry of the folder name at depth, of kind. The root, the path's first part,
// gets its backslash back; a subfolder is at depth 0 too below a path too long to show.
static void AddFolder(u32 depth, const char* name, int kind)
{
    char entry[ENTRY_SIZE];
    FolderEntryText(entry, ENTRY_SIZE, depth, name);
    if (!depth && kind != FOLDER_CHILD)
        AppendText(entry, "\\", ENTRY_SIZE);
    SendList(LB_SETITEMDATA, SendText(LB_ADDSTRING, 0, entry), kind);
}

// Lists the current directory: the path from the root, then the subfolders.
static void Refill()
{
    char* directory = request->currentDir;
    // A failure (empty here) and a directory longer than 254 characters both leave it empty.
    PlatGetCurrentDirectory(directory, TEXT_SIZE);
    if (TextCharacters(directory) > PATH_LENGTH - 1)
        directory[0] = 0;
    SendList(LB_RESETCONTENT, 0, 0);

    // parts holds the path's parts, then a found name and the path shown.
    char parts[TEXT_SIZE];
    CopyText(parts, directory);
    u32 depth = 0;
    const char* name = parts;
    for (u32 i = 0;; i++) {
        char c = parts[i];
        if (c && c != '\\')
            continue;
        parts[i] = 0;
        if (*name) {
            // The last part, also when a root's backslash follows it: the current folder,
            // the kind after an ancestor's.
            static_assert(FOLDER_CURRENT == FOLDER_ANCESTOR + 1, "the kinds in this order");
            AddFolder(depth, name, FOLDER_ANCESTOR + (!c || !parts[i + 1]));
            depth++;
        }
        name = parts + i + 1;
        if (!c)
            break;
    }

    // The pattern without a path searches the current directory: the one just read, also
    // when it was too long to keep.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"*.*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            // Hidden and system folders too; ".", ".." and every other dot-name not.
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && found.cFileName[0] != '.' &&
                Narrow(found.cFileName, parts, TEXT_SIZE)) {
                AddFolder(depth, parts, FOLDER_CHILD);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    // The current folder: sorted by their depth digits, the path's entries come first and
    // it is the last of them (none: no selection).
    SendList(LB_SETCURSEL, depth - 1, 0);

    CopyText(parts, directory);
    if (request->leafName[0])
        AppendPathPart(parts, TEXT_SIZE, request->leafName);
    SetItemText(browser, IDC_BROWSE_PATH, parts);
    SetFocus(FolderList());
}

// Double click or Enter in the folder list.
static void OpenSelected()
{
    LRESULT index = SendList(LB_GETCURSEL, 0, 0);
    if (index < 0)
        return;
    LRESULT kind = SendList(LB_GETITEMDATA, index, 0);
    if (kind == FOLDER_CURRENT)
        return;
    // A subfolder is the current folder joined with its name; sorted by depth, the entries
    // up to an ancestor are that one's path from the root.
    char target[TEXT_SIZE], entry[ENTRY_SIZE];
    int child = kind == FOLDER_CHILD;
    target[0] = 0;
    if (child)
        CopyText(target, request->currentDir);
    for (LRESULT i = child ? index : 0; i <= index; i++) {
        GetEntry(LB_GETTEXT, i, entry);
        if (!AppendPathPart(target, TEXT_SIZE, entry + 3))
            goto refused;
    }
    // Past 255 characters no path is entered: the listing would show nothing.
    if (TextCharacters(target) <= PATH_LENGTH && PlatSetCurrentDirectory(target)) {
        Refill();
        return;
    }
refused:
    ShowMessage(browser, MSG_CANT_OPEN_DIRECTORY, target, MSG_ATTENTION, MB_ICONINFORMATION);
}

// The root of the drive list's entry index ("c:\", 4 bytes); empty when there is none.
static void EntryRoot(LRESULT index, char* root)
{
    char entry[ENTRY_SIZE];
    GetEntry(CB_GETLBTEXT, index, entry);
    root[0] = entry[0];
    root[1] = entry[0] ? entry[1] : 0;
    root[2] = '\\';
    root[3] = 0;
}

// A selection change of the drive list: that drive's root becomes current.
static void ChooseDrive()
{
    SetCursor(LoadCursorA(0, (LPCSTR)IDC_WAIT));
    char target[4];
    EntryRoot(SendList(CB_GETCURSEL, 0, 0), target);
    if (PlatSetCurrentDirectory(target)) {
        Refill();
    } else {
        ShowMessage(browser, MSG_CANT_READ_DISK, target, MSG_ATTENTION, MB_ICONINFORMATION);
        // Back to the drive that the folder list still shows; the selection's search
        // ignores case, as the list's lower-case entries need.
        char directory[TEXT_SIZE];
        PlatGetCurrentDirectory(directory, TEXT_SIZE);
        directory[2] = 0;
        SelectDrive(directory);
    }
    SetCursor(LoadCursorA(0, (LPCSTR)IDC_ARROW));
}

// Every key goes to the folder list while it has the focus; Enter opens the selection.
static LRESULT CALLBACK FolderListFilter(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETDLGCODE)
        return DLGC_WANTALLKEYS;
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        OpenSelected();
        return 0;
    }
    return CallWindowProcW(listProc, list, message, wParam, lParam);
}

// Gives the folder list the window procedure proc; returns the one it had.
static WNDPROC SetFolderListProc(WNDPROC proc)
{
    return (WNDPROC)SetWindowLongW(FolderList(), GWL_WNDPROC,
                                   (LONG)(LONG_PTR)proc);
}

static void FillDriveList(char* preselected)
{
    // Room for every drive letter's root ("c:\" and its NUL) and the closing NUL.
    char roots[26 * 4 + 1];
    roots[0] = 0;
    GetLogicalDriveStringsA(sizeof(roots), roots);
    // Every root the system lists is a drive letter's: four bytes with its NUL.
    for (const char* root = roots; *root; root += 4) {
        // A label: 32 characters at most; a network name: 253.
        char suffix[TEXT_SIZE], entry[TEXT_SIZE];
        WCHAR wide[PATH_LENGTH + 1], wideRoot[4] = {(WCHAR)root[0], ':', '\\', 0};
        UINT type = GetDriveTypeA(root);
        // Other drives, and a failed call, have no suffix.
        int named = 0;
        if (type == DRIVE_FIXED) {
            named = GetVolumeInformationW(wideRoot, wide, PATH_LENGTH + 1, 0, 0, 0, 0, 0);
        } else if (type == DRIVE_REMOTE) {
            wideRoot[2] = 0;
            DWORD length = PATH_LENGTH + 1;
            named = WNetGetConnectionW(wideRoot, wide, &length) == NO_ERROR;
        }
        if (!named)
            wide[0] = 0;
        Narrow(wide, suffix, TEXT_SIZE);
        DriveEntryText(entry, TEXT_SIZE, root, suffix);
        // The first fixed drive, unless a drive matches the start path.
        if ((type == DRIVE_FIXED && !preselected[0]) || SameDrive(root, request->startPath))
            CopyText(preselected, entry);
        SendList(CB_SETITEMDATA, SendText(CB_ADDSTRING, 0, entry), type);
    }
}

static void InitBrowser(HWND dialog, BrowseRequest* browse)
{
    browser = dialog;
    request = browse;
    static const u16 labels[] = {IDCANCEL, MSG_CANCEL, IDOK, MSG_OK,
                                 LABEL_CAPTION, MSG_SELECT_DIRECTORY, 0};
    SetItemMessages(dialog, labels);
    listProc = SetFolderListProc(FolderListFilter);
    char preselected[TEXT_SIZE];
    preselected[0] = 0;
    FillDriveList(preselected);

    // With nothing preselected the empty prefix selects the first drive.
    char drive[4];
    EntryRoot(SelectDrive(preselected), drive);
    int entered;
    if (request->startPath[0]) {
        // A start path that does not exist opens the drive's own current directory.
        drive[2] = 0;
        entered = PlatSetCurrentDirectory(request->startPath) || PlatSetCurrentDirectory(drive);
    } else {
        entered = PlatSetCurrentDirectory(drive);
    }
    if (!entered) {
        PlatSetCurrentDirectory("c:\\");
        SelectDrive("c:");
    }
    Refill();
}

static INT_PTR CALLBACK BrowserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitBrowser(dialog, (BrowseRequest*)lParam);
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            GetItemText(dialog, IDC_BROWSE_PATH, request->result);
            EndDialog(dialog, 1);
            break;
        case IDCANCEL:
            EndDialog(dialog, 0);
            break;
        case IDC_FOLDER_LIST:
            if (HIWORD(wParam) == LBN_DBLCLK)
                OpenSelected();
            break;
        case IDC_DRIVE_LIST:
            if (HIWORD(wParam) == CBN_SELCHANGE)
                ChooseDrive();
            break;
        }
        return 0;
    case WM_DRAWITEM:
        DrawEntry((const DRAWITEMSTRUCT*)lParam);
        return 1;
    case WM_MEASUREITEM: {
        // Rows as high as the font makes them, and never lower than a scaled picture.
        MEASUREITEMSTRUCT* measure = (MEASUREITEMSTRUCT*)lParam;
        UINT least = (UINT)Scaled(PICTURE_SIZE, WindowDpi(dialog));
        if (measure->itemHeight < least)
            measure->itemHeight = least;
        return 1;
    }
    case WM_DESTROY:
        SetFolderListProc(listProc);
        return 1;
    }
    return 0;
}

int BrowseForFolder(BrowseRequest* browse)
{
    return RunDialog(IDD_BROWSER, BrowserProc, (LPARAM)browse) == 1;
}
