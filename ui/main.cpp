// The program's entry and its background window: the instance guard, start-up, the blue
// gradient with the product title, and the two commands that drive the install.
#include "ui.h"

#include "desktop_text.h"

#include "../archive/archive.h"
#include "../archive/commands.h"
#include "../archive/context.h"
#include "../archive/messages.h"
#include "../archive/platform.h"
#include "../archive/text.h"
#include "../extract/install_log.h"
#include "../resources/resource.h"

HINSTANCE instanceHandle;
HWND mainWindow;
HANDLE workerThread;

// Counts the starts of this program file across processes: the section is shared by every
// process mapping the file, so only the first start sees the increment yield 0.
__attribute__((section(".Shared"), shared)) volatile LONG instanceCounter = -1;

static const WCHAR backgroundClass[] = L"Quillstead";

// How the install ended, for the exit code: 0, OUTCOME_QUIT or a failure's message id.
static int installOutcome;

int ShowFormatted(HWND owner, int id, const FormatArgument* arguments, u32 count, int captionId,
                  UINT style)
{
    MessageTexts box;
    const char* shown = ComposeMessage(&box, id, arguments, count, captionId);
    return ShowBox(owner, id, shown, box.caption, style);
}

void ShowMessage(HWND owner, int id, const char* detail, int captionId, UINT style)
{
    FormatArgument argument = {detail, 0};
    ShowFormatted(owner, id, &argument, detail ? 1 : 0, captionId, style);
}

__attribute__((noinline)) INT_PTR RunDialog(int id, DLGPROC proc, LPARAM parameter)
{
    return DialogBoxParamW(instanceHandle, MAKEINTRESOURCEW(id), mainWindow, proc, parameter);
}

static void FillRows(HDC dc, int top, int width, int height, COLORREF colour)
{
    RECT band = {0, top, width, top + height};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &band, brush);
    DeleteObject(brush);
}

void PaintBackground(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    int width = client.right, height = client.bottom;
    if (height > 0) {
        int bands = height < 50 ? height : 50;
        int bandHeight = height / bands;
        int step = 255 / bands;
        // The rows left over at the top are the first band's colour: painted with it.
        int rows = height - bandHeight * bands + bandHeight;
        // Runs past the bottom edge on purpose: the last bands are clipped away.
        int top = 0;
        for (int blue = 255; blue >= 0; blue -= step, top += rows, rows = bandHeight)
            FillRows(dc, top, width, rows, RGB(0, 0, blue));

        // The title's pixels are a 96-DPI screen's.
        u32 dpi = WindowDpi(window);
        HFONT font = CreateFontA(ScaleForDpi(60, dpi), ScaleForDpi(16, dpi), 0, 0, FW_BOLD, 0, 0, 0, ArchiveCharset(),
                                 0, 0, 0, FIXED_PITCH | FF_MODERN, "System");
        HGDIOBJ oldFont = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        WCHAR wide[WIDE_SIZE];
        int length = lstrlenW(Wide(productTitle, wide));
        // The grey shadow first, then the white title over it.
#pragma GCC unroll 1
        for (int pass = 0; pass < 2; pass++) {
            SetTextColor(dc, pass ? RGB(255, 255, 255) : RGB(120, 120, 120));
            int at = ScaleForDpi(pass ? 8 : 10, dpi);
            TextOutW(dc, at, at, wide, length);
        }
        SelectObject(dc, oldFont);
        DeleteObject(font);
    }
    EndPaint(window, &paint);
}

static LRESULT CALLBACK BackgroundProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        PostMessageA(window, WM_COMMAND, CMD_START_INSTALL, 0);
        break;
    case WM_PAINT:
        PaintBackground(window);
        return 0;
    case WM_CLOSE:
        // Not while the worker writes: destroying the window would leave it without one.
        if (EndProgressOnClose())
            return 0;
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_DPICHANGED: {
        // Moved to a monitor of another DPI: the size it suggests, painted anew.
        const RECT* suggested = (const RECT*)lParam;
        SetWindowPos(window, 0, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(window, 0, TRUE);
        return 0;
    }
    case WM_COMMAND:
        if (wParam == CMD_START_INSTALL) {
            if (commandLine.silent) {
                installOutcome = RunSilentInstall();
            } else if (RunDialog(IDD_INSTALL_DIRECTORY, InstallDirectoryProc, 0) == 1) {
                LogLine("directory", context.installDir);
                installOutcome = RunProgressDialog();
            } else {
                installOutcome = OUTCOME_QUIT;
            }
            PostMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        }
        if (wParam == CMD_CREATE_GROUP)
            CreateGroup(window);
        break;
    case WM_DDE_ACK:
        ContinueGroupConversation(window, wParam, lParam);
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // The whole line in UTF-8, on the heap: a command line has no bound of ours.
    const WCHAR* wideLine = GetCommandLineW();
    u32 size = (u32)WideCharToMultiByte(CP_UTF8, 0, wideLine, -1, 0, 0, 0, 0);
    char* line = (char*)PlatAlloc(size + 1);
    if (!line)
        return EXIT_INSTALL_FAILED;
    Narrow(wideLine, line, size + 1);
    int understood = ParseCommandLine(line, &commandLine);
    // No system box either, for a drive that is not ready.
    if (commandLine.silent)
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (!OpenLog()) {
        char text[TEXT_SIZE + 32];
        ShowBox(0, 0, FormatWithText(text, sizeof(text), "Can't open the log file %s", commandLine.logFile),
                TEXT_ERROR_CAPTION, MB_ICONERROR);
        return EXIT_INSTALL_FAILED;
    }
    LogLine("start", line);
    if (!understood || commandLine.usage)
        return EndLog(ShowUsage());

    int first = InterlockedIncrement(&instanceCounter) == 0;
    // A second start with a window raises the running one's; a silent one has none to
    // raise (its window is never shown) and waits instead.
    if (!first && !commandLine.silent) {
        HWND running = FindWindowW(backgroundClass, 0);
        ShowWindow(running, SW_MINIMIZE);
        ShowWindow(running, SW_SHOWMAXIMIZED);
        return EndLog(EXIT_ALREADY_RUNNING);
    }
    if (!ClaimInstance(first))
        return EndLog(EXIT_ALREADY_RUNNING);

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = BackgroundProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_INSTALLER));
    windowClass.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    windowClass.lpszClassName = backgroundClass;
    RegisterClassW(&windowClass);
    instanceHandle = instance;

    if (!OpenArchive())
        return EndLog(EXIT_INSTALL_FAILED);
    if (commandLine.installDir[0])
        CopyText(context.installDir, commandLine.installDir);
    else
        StartFromEarlierInstall(context.installDir);
    RegisterBarClass(instance);
    LoadBrowserBitmaps();

    // A silent install's window is never shown, and not found by a search for top-level
    // windows: a message-only window, with no title and no place. It receives the commands
    // and the group conversation's messages as the background window does.
    int shown = !commandLine.silent;
    int maximized = context.header.backgroundMaximized != 0;
    WCHAR title[WIDE_SIZE];
    int place = shown ? CW_USEDEFAULT : 0;
    HWND window = CreateWindowExW(0, backgroundClass, shown ? Wide(windowTitle, title) : 0,
                                  shown ? WS_OVERLAPPEDWINDOW | (maximized ? WS_MAXIMIZE : WS_MINIMIZE) : 0,
                                  place, place, place, place, shown ? 0 : HWND_MESSAGE, 0, instance, 0);
    mainWindow = window;
    if (shown) {
        ShowWindow(window, maximized ? SW_SHOWMAXIMIZED : SW_SHOWMINIMIZED);
        UpdateWindow(window);
    }

    // A loop that ends before the install has run has failed.
    installOutcome = MSG_SYSTEM_ERROR;
    MSG message;
    while (GetMessageW(&message, 0, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    FreeBrowserBitmaps();
    InstallLogClose();
    FreeStringBlock();
    return EndLog((int)ExitCodeFor(installOutcome));
}

// Without the C runtime's start-up code the program saves several kilobytes; nothing in
// it needs constructors or the runtime's heap. Named only by the linker as the entry point,
// which link-time optimisation does not see: kept by hand.
extern "C" __attribute__((used, externally_visible)) void WinMainCRTStartup()
{
    ExitProcess((UINT)WinMain(GetModuleHandleA(0), 0, 0, SW_SHOWDEFAULT));
}
