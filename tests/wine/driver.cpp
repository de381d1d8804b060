// Drives the installer under Wine as a user would: starts it, finds its windows, reads
// and sets control texts, presses buttons, answers message boxes, reads pixels from the
// screen, and checks the installed tree through the Win32 file calls.
//
//   driver.exe STEP [ARGS...] [-- STEP [ARGS...]] ...
//
// Arguments are taken as UTF-8 from the wide command line, and every text the driver reads,
// compares or sets crosses through the wide calls: a text in any script compares exactly
// whatever the ANSI code page of the system.
//
// Every wait is on a condition (a window, a text, a state, a process end), polled, with a
// generous time limit. The first failing step prints what it saw and ends with 1.
#include <windows.h>
#include <shlobj.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

static const DWORD TIMEOUT_MS = 60000;
static const DWORD POLL_MS = 10;
static const DWORD SCREEN_LAG_MS = 10000;  // the screen may show a paint a little late
static const int MESSAGE_TEXT_ID = 0xFFFF;  // the text of a message box

static PROCESS_INFORMATION subject;  // the installer under test
static PROCESS_INFORMATION waiter;   // a second installer started beside it ("also")
static HWND dialog;                  // the current dialog
static HWND outerDialog;             // the install-directory dialog while the browser is current
static HWND heldBox;                 // the break question, while the worker holds
static int stepNumber;
static const char* stepName = "";

static void Fail(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    fprintf(stderr, "step %d (%s): ", stepNumber, stepName);
    vfprintf(stderr, format, arguments);
    fprintf(stderr, "\n");
    va_end(arguments);
    if (subject.hProcess) {
        DWORD code;
        if (GetExitCodeProcess(subject.hProcess, &code) && code == STILL_ACTIVE)
            TerminateProcess(subject.hProcess, 99);
    }
    exit(1);
}

static void Note(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    printf("\n");
    fflush(stdout);
    va_end(arguments);
}

// --- texts: UTF-8 inside, wide at every call ---

static std::wstring Wide(const char* utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, 0, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

static std::string Utf8(const WCHAR* wide)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, 0, 0, 0, 0);
    std::string text(n > 0 ? n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], n, 0, 0);
    text.resize(strlen(text.c_str()));
    return text;
}

// Into a buffer of capacity bytes: a text too long is cut at a character's start, as the
// ANSI calls cut theirs.
static void ToUtf8(const WCHAR* wide, char* text, int capacity)
{
    std::string whole = Utf8(wide);
    size_t n = whole.size() < (size_t)capacity ? whole.size() : (size_t)capacity - 1;
    while (n && n < whole.size() && (whole[n] & 0xC0) == 0x80)
        n--;
    memcpy(text, whole.data(), n);
    text[n] = 0;
}

// A window's caption as UTF-8.
static void WindowText(HWND window, char* text, int capacity)
{
    WCHAR wide[1024] = L"";
    GetWindowTextW(window, wide, 1024);
    ToUtf8(wide, text, capacity);
}

static DWORD Attributes(const char* path)
{
    return GetFileAttributesW(Wide(path).c_str());
}

// --- windows of the subject ---

struct Search {
    DWORD process;
    const char* className;  // 0: any
    const char* caption;    // 0: any
    HWND except;
    HWND found;
    int count;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    Search* search = (Search*)parameter;
    DWORD process;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || !IsWindowVisible(window) || window == search->except ||
        (search->except && window == outerDialog))
        return TRUE;
    char text[512];
    if (search->className) {
        GetClassNameA(window, text, sizeof(text));
        if (strcmp(text, search->className))
            return TRUE;
    }
    if (search->caption) {
        WindowText(window, text, sizeof(text));
        if (strcmp(text, search->caption))
            return TRUE;
    }
    if (!search->found)
        search->found = window;
    search->count++;
    return TRUE;
}

static HWND FindSubjectWindow(DWORD process, const char* className, const char* caption,
                              HWND except, int* count)
{
    Search search = {process, className, caption, except, 0, 0};
    EnumWindows(MatchWindow, (LPARAM)&search);
    if (count)
        *count = search.count;
    return search.found;
}

static int SubjectRunning()
{
    DWORD code;
    return GetExitCodeProcess(subject.hProcess, &code) && code == STILL_ACTIVE;
}

static void ControlText(HWND window, int id, char* text, int capacity);

// A message box: the box's text, and none of the controls of the installer's own dialogs
// (1010, 1068; -1 is also the id of the progress dialog's frame) or of the open-file dialog.
static int IsMessageBox(HWND window)
{
    char className[64];
    GetClassNameA(window, className, sizeof(className));
    return !strcmp(className, "#32770") && GetDlgItem(window, MESSAGE_TEXT_ID) &&
           !GetDlgItem(window, 1010) && !GetDlgItem(window, 1068) && !GetDlgItem(window, 0x47C);
}

struct BoxSearch {
    DWORD process;
    const char* caption;  // the awaited caption, or 0
    HWND found;
};

static BOOL CALLBACK MatchOtherBox(HWND window, LPARAM parameter)
{
    BoxSearch* search = (BoxSearch*)parameter;
    DWORD process;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || !IsWindowVisible(window) || !IsMessageBox(window))
        return TRUE;
    char caption[256];
    WindowText(window, caption, sizeof(caption));
    if (search->caption && !strcmp(caption, search->caption))
        return TRUE;
    search->found = window;
    return FALSE;
}

// A message box of the subject other than the window looked for ends the wait at once.
static void FailOnOtherBox(const char* caption)
{
    BoxSearch search = {subject.dwProcessId, caption, 0};
    EnumWindows(MatchOtherBox, (LPARAM)&search);
    if (!search.found)
        return;
    char seen[256], text[512];
    WindowText(search.found, seen, sizeof(seen));
    ControlText(search.found, MESSAGE_TEXT_ID, text, sizeof(text));
    Fail("waiting for \"%s\", a box \"%s\" says \"%s\"", caption ? caption : "", seen, text);
}

static BOOL CALLBACK ListSubjectWindow(HWND window, LPARAM parameter)
{
    std::string* seen = (std::string*)parameter;
    DWORD process;
    GetWindowThreadProcessId(window, &process);
    if (process == subject.dwProcessId && IsWindowVisible(window)) {
        char className[64] = "", caption[512];
        GetClassNameA(window, className, sizeof(className));
        WindowText(window, caption, sizeof(caption));
        *seen += std::string(seen->empty() ? "" : ", ") + className + " \"" + caption + "\"";
    }
    return TRUE;
}

static HWND WaitWindow(const char* className, const char* caption, HWND except)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindSubjectWindow(subject.dwProcessId, className, caption, except, 0);
        if (window)
            return window;
        FailOnOtherBox(caption);
        if (!SubjectRunning()) {
            DWORD code = 0;
            GetExitCodeProcess(subject.hProcess, &code);
            Fail("the installer ended (exit code %lu) while waiting for window \"%s\"", code,
                 caption ? caption : className);
        }
        if (GetTickCount() - start > TIMEOUT_MS) {
            std::string seen;
            EnumWindows(ListSubjectWindow, (LPARAM)&seen);
            Fail("no window \"%s\" of class %s; the installer shows: %s", caption ? caption : "",
                 className ? className : "any", seen.empty() ? "none" : seen.c_str());
        }
        Sleep(POLL_MS);
    }
}

static void ControlText(HWND window, int id, char* text, int capacity)
{
    text[0] = 0;
    HWND control = id ? GetDlgItem(window, id) : window;
    if (!control)
        Fail("no control %d", id);
    WCHAR wide[1024] = L"";
    SendMessageW(control, WM_GETTEXT, 1024, (LPARAM)wide);
    ToUtf8(wide, text, capacity);
}

static void WaitText(HWND window, int id, const char* expected, int prefixOnly)
{
    char text[1024];
    DWORD start = GetTickCount();
    for (;;) {
        ControlText(window, id, text, sizeof(text));
        if (prefixOnly ? !strncmp(text, expected, strlen(expected)) : !strcmp(text, expected))
            return;
        if (GetTickCount() - start > TIMEOUT_MS)
            Fail("control %d reads \"%s\", expected \"%s\"", id, text, expected);
        Sleep(POLL_MS);
    }
}

static void WaitGone(HWND window, const char* what, DWORD poll = POLL_MS)
{
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start > TIMEOUT_MS)
            Fail("%s did not close", what);
        Sleep(poll);
    }
}

static int AnswerId(const char* answer)
{
    if (!strcmp(answer, "yes"))
        return IDYES;
    if (!strcmp(answer, "no"))
        return IDNO;
    if (!strcmp(answer, "ok"))
        return IDOK;
    if (!strcmp(answer, "cancel"))
        return IDCANCEL;
    Fail("unknown answer %s", answer);
    return 0;
}

static HWND BackgroundWindow()
{
    return FindSubjectWindow(subject.dwProcessId, "Quillstead", 0, 0, 0);
}

// Finds a message box by caption (not the current dialog), checks its text and owner.
static HWND WaitBox(const char* caption, const char* text, const char* owner)
{
    HWND box = WaitWindow("#32770", caption, dialog);
    WaitText(box, MESSAGE_TEXT_ID, text, 0);
    HWND actual = GetWindow(box, GW_OWNER);
    if (!strcmp(owner, "none") && actual)
        Fail("box \"%s\" is owned by %p, not by no window", caption, actual);
    if (!strcmp(owner, "dialog") && actual != dialog)
        Fail("box \"%s\" is owned by %p, not by the dialog %p", caption, actual, dialog);
    if (!strcmp(owner, "background")) {
        HWND background = BackgroundWindow();
        // The background window may be minimised (then not "visible" to the search).
        if (!background)
            background = FindWindowA("Quillstead", 0);
        if (actual != background)
            Fail("box \"%s\" is owned by %p, not by the background window %p", caption, actual,
                 background);
        // Reported after the dialog: no dialog is up beside the box.
        int count;
        FindSubjectWindow(subject.dwProcessId, "#32770", 0, box, &count);
        if (count)
            Fail("box \"%s\" is shown while another dialog is up", caption);
    }
    return box;
}

static void Press(HWND box, int id)
{
    HWND button = GetDlgItem(box, id);
    if (!button)
        Fail("no button %d", id);
    PostMessageA(button, BM_CLICK, 0, 0);
}

// Waits until everything posted to the dialog before now has been handled: a button's
// pushed state is set by a posted message and read back.
static void Sync(int buttonId)
{
    HWND button = GetDlgItem(dialog, buttonId);
    if (!button)
        Fail("no button %d to synchronise on", buttonId);
    for (int state = 1; state >= 0; state--) {
        PostMessageA(button, BM_SETSTATE, state, 0);
        DWORD start = GetTickCount();
        while (((SendMessageA(button, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0) != state) {
            if (!IsWindow(button))
                Fail("the dialog closed");
            if (GetTickCount() - start > TIMEOUT_MS)
                Fail("the dialog does not handle its messages");
            Sleep(POLL_MS);
        }
    }
}

static void ExpectNoOtherWindow()
{
    int count;
    HWND other = FindSubjectWindow(subject.dwProcessId, "#32770", 0, dialog, &count);
    if (other) {
        char caption[256], text[512];
        WindowText(other, caption, sizeof(caption));
        ControlText(other, MESSAGE_TEXT_ID, text, sizeof(text));
        Fail("unexpected window \"%s\": \"%s\"", caption, text);
    }
}

// --- the progress bar's state, read from the installer's memory ---

struct BarState {  // as the bar keeps it
    COLORREF barColor, backColor;
    DWORD lower, upper;
    float scale;
    DWORD position;
};

static BarState ReadBar(HWND bar)
{
    BarState state;
    LONG address = GetWindowLongA(bar, GWL_USERDATA);
    SIZE_T got = 0;
    if (!address || !ReadProcessMemory(subject.hProcess, (void*)address, &state, sizeof(state), &got) ||
        got != sizeof(state))
        Fail("cannot read the bar's state");
    return state;
}

// --- pixels ---

struct Capture {
    int width, height;
    DWORD* pixels;  // 0x00RRGGBB, top row first
};

// The format of every picture here: 32 bits a pixel, the top row first.
static BITMAPINFO TopDownFormat(int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    return info;
}

// A 32-bit top-down bitmap selected into a memory context beside the screen's, to draw
// or copy into; CloseCanvas gives its pixels and releases it.
struct Canvas {
    HDC screen, memory;
    HBITMAP bitmap;
    HGDIOBJ old;
    void* bits;
    int width, height;
};

static Canvas OpenCanvas(int width, int height)
{
    Canvas canvas = {GetDC(0), 0, 0, 0, 0, width, height};
    BITMAPINFO info = TopDownFormat(width, height);
    canvas.memory = CreateCompatibleDC(canvas.screen);
    canvas.bitmap = CreateDIBSection(canvas.screen, &info, DIB_RGB_COLORS, &canvas.bits, 0, 0);
    canvas.old = SelectObject(canvas.memory, canvas.bitmap);
    return canvas;
}

static Capture CloseCanvas(Canvas& canvas)
{
    GdiFlush();
    size_t bytes = (size_t)canvas.width * canvas.height * 4;
    Capture capture = {canvas.width, canvas.height, (DWORD*)malloc(bytes)};
    memcpy(capture.pixels, canvas.bits, bytes);
    SelectObject(canvas.memory, canvas.old);
    DeleteObject(canvas.bitmap);
    DeleteDC(canvas.memory);
    ReleaseDC(0, canvas.screen);
    return capture;
}

static Capture CaptureScreen(int left, int top, int width, int height)
{
    Canvas canvas = OpenCanvas(width, height);
    BitBlt(canvas.memory, 0, 0, width, height, canvas.screen, left, top, SRCCOPY);
    return CloseCanvas(canvas);
}

static void SaveCapture(const Capture& capture, const char* path)
{
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = TopDownFormat(capture.width, capture.height).bmiHeader;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + capture.width * capture.height * 4;
    FILE* out = fopen(path, "wb");
    if (!out)
        Fail("cannot write %s", path);
    fwrite(&file, sizeof(file), 1, out);
    fwrite(&info, sizeof(info), 1, out);
    fwrite(capture.pixels, 4, (size_t)capture.width * capture.height, out);
    fclose(out);
}

static DWORD Pixel(const Capture& capture, int x, int y)
{
    return capture.pixels[y * capture.width + x] & 0xFFFFFF;
}

static Capture CaptureClient(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    return CaptureScreen(origin.x, origin.y, client.right, client.bottom);
}

// The bar's fill as the control computes it, in double precision at each step.
static int ExpectedFill(const BarState& state, int width)
{
    volatile double value = (double)width * (double)(state.position - state.lower);
    value = value * state.scale;
    value = value * 0.01f;
    return (int)value;
}

// Row 0 outside the middle, where the percentage's digits may lie: blue up to the fill,
// white from there on.
static void CheckBarPixels(HWND bar)
{
    BarState state = ReadBar(bar);
    RECT client;
    GetClientRect(bar, &client);
    int fill = ExpectedFill(state, client.right);
    DWORD start = GetTickCount();
    for (;;) {
        Capture capture = CaptureClient(bar);
        int bad = -1;
        for (int x = 0; x < capture.width && bad < 0; x++) {
            if (x > capture.width / 2 - 40 && x < capture.width / 2 + 40)
                continue;
            DWORD expected = x < fill ? 0x0000FF : 0xFFFFFF;
            if (Pixel(capture, x, 0) != expected)
                bad = x;
        }
        DWORD seen = bad >= 0 ? Pixel(capture, bad, 0) : 0;
        free(capture.pixels);
        if (bad < 0) {
            Note("bar: position %lu of %lu..%lu, %d of %d pixels filled", state.position,
                 state.lower, state.upper, fill, (int)client.right);
            return;
        }
        if (GetTickCount() - start > SCREEN_LAG_MS)
            Fail("bar pixel %d is %06lx; position %lu of %lu..%lu should fill %d of %d", bad,
                 seen, state.position, state.lower, state.upper, fill, (int)client.right);
        Sleep(POLL_MS);
    }
}

// --- the bar's whole picture at a sweep of positions ---

enum { BAR_SETPOS = 5122, BAR_SETBARCOLOR = 5125 };  // the installer's bar commands

// The bar's figures as the control computes them: the percentage shown and the fill.
static void BarFigures(const BarState& state, DWORD position, int width, DWORD* percent, int* fill)
{
    DWORD done = position - state.lower;
    volatile double value = (double)done * state.scale;
    value = value + 0.5f;
    *percent = (DWORD)(int)value;
    BarState at = state;
    at.position = position;
    *fill = ExpectedFill(at, width);
}

// The picture the bar paints for a state: the filled part and the rest, the percentage
// centred across both, each part's digits in the other part's colour; the same calls on a
// memory bitmap as the control's paint makes on the screen.
static Capture RenderBar(const BarState& state, int width, int height)
{
    DWORD percent;
    int fill;
    BarFigures(state, state.position, width, &percent, &fill);
    char text[16];
    snprintf(text, sizeof(text), "%lu%%", percent);
    Canvas canvas = OpenCanvas(width, height);
    HDC memory = canvas.memory;
    SetBkMode(memory, TRANSPARENT);
    SetTextAlign(memory, TA_CENTER | TA_BASELINE);
    // The baseline's 10 pixels are a 96-DPI screen's, as the bar scales them.
    int dpi = GetDeviceCaps(canvas.screen, LOGPIXELSY);
    int x = width / 2, y = (height + (10 * dpi + 48) / 96) / 2;
    RECT part = {0, 0, fill, height};
    SetTextColor(memory, state.backColor);
    SetBkColor(memory, state.barColor);
    ExtTextOutA(memory, x, y, ETO_CLIPPED | ETO_OPAQUE, &part, text, (UINT)strlen(text), 0);
    part.left = fill;
    part.right = width;
    SetTextColor(memory, state.barColor);
    SetBkColor(memory, state.backColor);
    ExtTextOutA(memory, x, y, ETO_CLIPPED | ETO_OPAQUE, &part, text, (UINT)strlen(text), 0);
    return CloseCanvas(canvas);
}

// The first pixel where two pictures differ, as y * width + x; -1 when they are the same.
static int FirstDifference(const Capture& a, const Capture& b)
{
    if (a.width != b.width || a.height != b.height)
        return 0;
    for (int i = 0; i < a.width * a.height; i++)
        if ((a.pixels[i] & 0xFFFFFF) != (b.pixels[i] & 0xFFFFFF))
            return i;
    return -1;
}

// Waits until the screen shows the bar's picture for its present state; returns 0 when it
// does not within the screen's lag, with what differed in problem.
static int AwaitBarPicture(HWND bar, char* problem, size_t capacity)
{
    BarState state = ReadBar(bar);
    RECT client;
    GetClientRect(bar, &client);
    Capture expected = RenderBar(state, client.right, client.bottom);
    DWORD start = GetTickCount();
    for (;;) {
        Capture seen = CaptureClient(bar);
        int at = FirstDifference(seen, expected);
        if (seen.width != expected.width || seen.height != expected.height) {
            snprintf(problem, capacity, "the bar is %dx%d, its picture %dx%d", seen.width,
                     seen.height, expected.width, expected.height);
        } else if (at >= 0) {
            DWORD percent;
            int fill;
            BarFigures(state, state.position, client.right, &percent, &fill);
            snprintf(problem, capacity,
                     "position %lu of %lu..%lu (%lu%%, %d of %d pixels filled): pixel (%d,%d) is "
                     "%06lx, expected %06lx", state.position, state.lower, state.upper, percent,
                     fill, expected.width, at % expected.width, at / expected.width,
                     seen.pixels[at] & 0xFFFFFF, expected.pixels[at] & 0xFFFFFF);
        }
        free(seen.pixels);
        if (at < 0) {
            free(expected.pixels);
            return 1;
        }
        if (GetTickCount() - start > SCREEN_LAG_MS) {
            free(expected.pixels);
            return 0;
        }
        Sleep(1);
    }
}

// A report to the bar, as the worker sends it, and a check that the screen then shows the
// bar's picture for the new state; then the old bar's way, a repaint at every report, to
// show that it paints that same picture.
static void ReportAndCheck(HWND bar, DWORD position)
{
    char problem[512];
    SendMessageA(bar, WM_COMMAND, BAR_SETPOS, position);
    if (!AwaitBarPicture(bar, problem, sizeof(problem))) {
        RedrawWindow(bar, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        char repainted[512];
        if (AwaitBarPicture(bar, repainted, sizeof(repainted)))
            Fail("after the report the bar shows an earlier picture (a repaint fixes it): %s", problem);
        Fail("even a repaint does not show the expected picture: %s", repainted);
    }
    RedrawWindow(bar, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    if (!AwaitBarPicture(bar, problem, sizeof(problem)))
        Fail("a repaint shows another picture than the report left: %s", problem);
}

// Every position where the percentage or the fill changes, and the one before each (a
// report that changes nothing), in order; then positions in no order, repeated ones among
// them; then a recoloured and a resized bar. The bar is left as it was found.
static void SweepBar(HWND bar)
{
    BarState state = ReadBar(bar);
    RECT client;
    GetClientRect(bar, &client);
    DWORD first = state.position;
    int reports = 0, changes = 0;
    DWORD lastPercent = 0;
    int lastFill = -1;
    DWORD last = state.lower;
    for (DWORD p = state.lower;; p++) {
        DWORD percent;
        int fill;
        BarFigures(state, p, client.right, &percent, &fill);
        if (fill != lastFill || percent != lastPercent) {
            if (p > state.lower && p - 1 != last) {
                ReportAndCheck(bar, p - 1);
                reports++;
            }
            ReportAndCheck(bar, p);
            reports++;
            changes++;
            last = p;
            lastFill = fill;
            lastPercent = percent;
        }
        if (p == state.upper)
            break;
    }
    DWORD seed = 12345, range = state.upper - state.lower + 1, position = state.lower;
    for (int k = 0; k < 200; k++) {
        seed = seed * 1103515245 + 12345;
        if (k % 4)  // mostly near the last one, sometimes anywhere
            position = state.lower + (position - state.lower + (seed >> 16) % 2000) % range;
        else
            position = state.lower + (seed >> 8) % range;
        ReportAndCheck(bar, position);
        ReportAndCheck(bar, position);
        reports += 2;
    }
    // A new colour shows at the next report, whatever its figures.
    SendMessageA(bar, WM_COMMAND, BAR_SETBARCOLOR, RGB(0, 128, 0));
    ReportAndCheck(bar, position);
    SendMessageA(bar, WM_COMMAND, BAR_SETBARCOLOR, state.barColor);
    ReportAndCheck(bar, position);
    // A resized bar repaints by itself, and its reports fill to its new width.
    RECT frame;
    GetWindowRect(bar, &frame);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    char problem[512];
    for (int shrink = 37; shrink >= 0; shrink -= 37) {
        SetWindowPos(bar, 0, 0, 0, width - shrink, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (!AwaitBarPicture(bar, problem, sizeof(problem)))
            Fail("after a resize to %d: %s", width - shrink, problem);
        for (int k = 1; k <= 20; k++)
            ReportAndCheck(bar, state.lower + (DWORD)((unsigned long long)range * k / 21));
        reports += 20;
    }
    ReportAndCheck(bar, first);
    Note("bar sweep: %d reports, %d changes of the picture, each as the repainted bar shows it",
         reports, changes);
}

static void CheckBackgroundPicture(HWND window);

// Resizes the background window to a client height and checks its picture.
static void CheckBackground(int clientHeight)
{
    HWND window = BackgroundWindow();
    if (!window)
        Fail("no visible background window");
    ShowWindow(window, SW_RESTORE);
    RECT frame = {0, 0, 640, clientHeight};
    AdjustWindowRectEx(&frame, GetWindowLongA(window, GWL_STYLE), FALSE,
                       GetWindowLongA(window, GWL_EXSTYLE));
    SetWindowPos(window, HWND_BOTTOM, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOACTIVATE);
    RECT client;
    GetClientRect(window, &client);
    if (client.bottom != clientHeight)
        Fail("client height %ld, wanted %d", client.bottom, clientHeight);
    RedrawWindow(window, 0, 0, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    CheckBackgroundPicture(window);
}

// The gradient bands in the rightmost column of the background window's client, as high
// as it is now, and the title's white and grey pixels near its top left corner.
static void CheckBackgroundPicture(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    int clientHeight = client.bottom;
    int bands = clientHeight < 50 ? clientHeight : 50;
    int bandHeight = clientHeight / bands, step = 255 / bands;
    int rest = clientHeight - bands * bandHeight;
    DWORD start = GetTickCount();
    for (;;) {
        Capture capture = CaptureClient(window);
        char problem[256] = "";
        int x = capture.width - 2;
        for (int y = 0; y < clientHeight && !problem[0]; y++) {
            int blue = y < rest ? 255 : 255 - ((y - rest) / bandHeight) * step;
            if (Pixel(capture, x, y) != (DWORD)blue)
                snprintf(problem, sizeof(problem), "row %d is %06lx, expected blue %d", y,
                         Pixel(capture, x, y), blue);
        }
        int white = 0, grey = 0;
        for (int y = 8; y < 70 && y < clientHeight; y++)
            for (int px = 8; px < 300 && px < capture.width; px++) {
                DWORD p = Pixel(capture, px, y);
                white += p == 0xFFFFFF;
                grey += p == 0x787878;
            }
        if (!problem[0] && (!white || !grey))
            snprintf(problem, sizeof(problem), "title: %d white and %d grey pixels", white, grey);
        free(capture.pixels);
        if (!problem[0]) {
            Note("background: %d rows checked, title %d white / %d grey pixels", clientHeight,
                 white, grey);
            return;
        }
        if (GetTickCount() - start > SCREEN_LAG_MS)
            Fail("background at client height %d: %s", clientHeight, problem);
        Sleep(POLL_MS);
    }
}

// --- high DPI ---

// Polls the client of a window until two captures in a row agree, and (with unlike) until
// it differs from that earlier capture: a paint asked for has reached the screen.
static Capture SettledCapture(HWND window, const Capture* unlike)
{
    Capture last = CaptureClient(window);
    DWORD start = GetTickCount();
    for (;;) {
        Sleep(POLL_MS);
        Capture now = CaptureClient(window);
        int settled = FirstDifference(now, last) < 0 && (!unlike || FirstDifference(now, *unlike) >= 0);
        free(last.pixels);
        last = now;
        if (settled)
            return last;
        if (GetTickCount() - start > SCREEN_LAG_MS)
            Fail("the screen does not settle on a new picture of the window");
    }
}

// Resizes a control of the installer, and waits until its thread has done it: a resize of
// another process's window arrives after the messages sent to it meanwhile.
static void ResizeAndWait(HWND control, int width, int height)
{
    SetWindowPos(control, 0, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    DWORD start = GetTickCount();
    for (;;) {
        RECT frame;
        GetWindowRect(control, &frame);
        if (frame.right - frame.left == width && frame.bottom - frame.top == height)
            return;
        if (GetTickCount() - start > TIMEOUT_MS)
            Fail("the control is %ldx%ld, not %dx%d", frame.right - frame.left, frame.bottom - frame.top,
                 width, height);
        Sleep(POLL_MS);
    }
}

static void SetTextAndWait(HWND control, const WCHAR* text, const Capture& before, Capture* after)
{
    SendMessageW(control, WM_SETTEXT, 0, (LPARAM)text);
    *after = SettledCapture(control, &before);
}

// Whether a control of the dialog shows its whole text, read from the screen: the control
// is widened by half its width, so that whatever its old edge cut off is painted too, and
// its text's own pixels are told from the rest (box, frame, focus) by painting it once
// without the text. A left-aligned text must end before the old right edge; a centred one,
// put back in the old width, must not touch its sides (a button's: its edges).
static void CheckTextFits(int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        Fail("no control %d", id);
    WCHAR text[512] = L"";
    SendMessageW(control, WM_GETTEXT, 512, (LPARAM)text);
    char shown[1024];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, shown, sizeof(shown), 0, 0);
    char className[32];
    GetClassNameA(control, className, sizeof(className));
    LONG style = GetWindowLongA(control, GWL_STYLE);
    int centred = 0, inset = 0;
    if (!lstrcmpiA(className, "Button") && (style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON) {
        centred = 1;
        inset = GetSystemMetrics(SM_CXEDGE);
    } else if (!lstrcmpiA(className, "Static")) {
        centred = (style & SS_TYPEMASK) == SS_CENTER;
    }
    RECT frame;
    GetWindowRect(control, &frame);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int wide = width + width / 2;
    ResizeAndWait(control, wide, height);
    RedrawWindow(control, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    Capture widened = SettledCapture(control, 0), blank, full;
    SetTextAndWait(control, L"", widened, &blank);
    SetTextAndWait(control, text, blank, &full);
    int left = full.width, right = -1;
    for (int y = 0; y < full.height; y++)
        for (int x = 0; x < full.width; x++)
            if (Pixel(full, x, y) != Pixel(blank, x, y)) {
                left = x < left ? x : left;
                right = x > right ? x : right;
            }
    free(widened.pixels);
    free(blank.pixels);
    free(full.pixels);
    ResizeAndWait(control, width, height);
    RedrawWindow(dialog, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    if (right < 0)
        Fail("control %d \"%s\" shows no text", id, shown);
    if (centred) {
        left -= (wide - width) / 2;
        right -= (wide - width) / 2;
    }
    if (left <= (centred ? inset : -1) || right >= width - 1 - inset)
        Fail("control %d \"%s\" is %d pixels wide; its text runs from %d to %d", id, shown, width,
             left, right);
    Note("control %d \"%s\": text in columns %d..%d of %d", id, shown, left, right, width);
}

// The pixels of the background window's title, white and grey, above the dialog: their
// width and height. The window fills the screen at any DPI; its title is what is scaled.
static void MeasureTitle(int* width, int* height)
{
    HWND window = BackgroundWindow();
    if (!window)
        Fail("no visible background window");
    RECT below;
    GetWindowRect(dialog, &below);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    Capture capture = SettledCapture(window, 0);
    int left = capture.width, right = -1, top = capture.height, bottom = -1;
    for (int y = 0; y < capture.height && y < below.top - origin.y; y++)
        for (int x = 0; x < capture.width; x++) {
            DWORD p = Pixel(capture, x, y);
            if (p != 0xFFFFFF && p != 0x787878)
                continue;
            left = x < left ? x : left;
            right = x > right ? x : right;
            top = y < top ? y : top;
            bottom = y > bottom ? y : bottom;
        }
    free(capture.pixels);
    if (right < 0)
        Fail("no title pixels above the dialog");
    *width = right - left + 1;
    *height = bottom - top + 1;
}

// What the system sends a window moved to a monitor of another DPI, with the frame it
// suggests. The message carries a pointer, which Wine hands across processes as it is:
// the rectangle is written into the installer's memory.
static void SendDpiChanged(HWND window, int dpi, RECT suggested)
{
    void* remote = VirtualAllocEx(subject.hProcess, 0, sizeof(suggested), MEM_COMMIT, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(subject.hProcess, remote, &suggested, sizeof(suggested), 0))
        Fail("cannot write the suggested frame into the installer");
    SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), (LPARAM)remote);
    VirtualFreeEx(subject.hProcess, remote, 0, MEM_RELEASE);
}

// The background window after WM_DPICHANGED: the suggested frame, the picture at its size.
static void CheckBackgroundDpiChange(int dpi, int width, int height)
{
    HWND window = BackgroundWindow();
    if (!window)
        Fail("no visible background window");
    ShowWindow(window, SW_RESTORE);
    RECT suggested = {20, 10, 20 + width, 10 + height}, frame;
    SendDpiChanged(window, dpi, suggested);
    GetWindowRect(window, &frame);
    if (!EqualRect(&frame, &suggested))
        Fail("after WM_DPICHANGED the frame is (%ld,%ld)-(%ld,%ld), suggested (%ld,%ld)-(%ld,%ld)",
             frame.left, frame.top, frame.right, frame.bottom, suggested.left, suggested.top,
             suggested.right, suggested.bottom);
    CheckBackgroundPicture(window);
}

// The bar after its dialog has been laid out at another DPI: its colour is changed in its
// memory, where no message makes it repaint, so only the repaint that
// WM_DPICHANGED_AFTERPARENT asks for can bring the new picture to the screen.
static void CheckBarDpiChange(HWND bar)
{
    BarState state = ReadBar(bar);
    void* address = (void*)GetWindowLongA(bar, GWL_USERDATA);
    char problem[512];
    COLORREF colours[2] = {RGB(0, 128, 0), state.barColor};
    for (COLORREF colour : colours) {
        if (!WriteProcessMemory(subject.hProcess, address, &colour, sizeof(colour), 0))
            Fail("cannot write the bar's colour");
        SendMessageA(bar, WM_DPICHANGED_AFTERPARENT, 0, 0);
        if (!AwaitBarPicture(bar, problem, sizeof(problem)))
            Fail("after WM_DPICHANGED_AFTERPARENT: %s", problem);
    }
}

// --- the installed tree ---

static int ReadWhole(const char* path, char** data, DWORD* size)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    *size = GetFileSize(file, 0);
    *data = (char*)malloc(*size + 1);
    DWORD got = 0;
    int ok = ReadFile(file, *data, *size, &got, 0) && got == *size;
    CloseHandle(file);
    (*data)[*size] = 0;
    return ok;
}

struct Listed {
    char path[MAX_PATH];
    int seen;
};
static Listed listed[1024];
static int listedCount;

static void CountTree(const char* root, const char* relative)
{
    char pattern[MAX_PATH * 2];
    snprintf(pattern, sizeof(pattern), "%s\\%s%s*", root, relative, relative[0] ? "\\" : "");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L".."))
            continue;
        char path[MAX_PATH];
        snprintf(path, sizeof(path), "%s%s%s", relative, relative[0] ? "\\" : "", Utf8(found.cFileName).c_str());
        int known = 0;
        for (int i = 0; i < listedCount; i++)
            if (!lstrcmpiA(listed[i].path, path))
                listed[i].seen = known = 1;
        if (!known)
            Fail("unexpected entry %s in the install directory", path);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CountTree(root, path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Checks every entry of expect.txt in target against the source tree: directories exist,
// files have the source's bytes, the write and access times and the attributes; and no
// other entry exists, except the names given as extra.
static void Verify(const char* expectPath, const char* source, const char* target, const char* extra)
{
    char* expect;
    DWORD size;
    if (!ReadWhole(expectPath, &expect, &size))
        Fail("cannot read %s", expectPath);
    listedCount = 0;
    int files = 0, directories = 0;
    for (char* line = strtok(expect, "\n"); line; line = strtok(0, "\n")) {
        char kind = line[0];
        char* fields[5] = {};
        int n = 0;
        for (char* p = line; p && n < 5; n++) {
            fields[n] = p;
            p = strchr(p, '|');
            if (p)
                *p++ = 0;
        }
        char* relative = fields[1];
        size_t length = strlen(relative);
        if (length && relative[length - 1] == '\\')
            relative[length - 1] = 0;
        snprintf(listed[listedCount++].path, MAX_PATH, "%s", relative);
        char path[MAX_PATH * 2];
        snprintf(path, sizeof(path), "%s\\%s", target, relative);
        DWORD attributes = Attributes(path);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            Fail("%s is missing", path);
        if (kind == 'D') {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                Fail("%s is not a directory", path);
            directories++;
            continue;
        }
        DWORD wantSize = strtoul(fields[2], 0, 10);
        DWORD wantAttributes = strtoul(fields[3], 0, 10);
        unsigned long long wantTime = strtoull(fields[4], 0, 10);
        if (attributes != wantAttributes)
            Fail("%s has attributes %#lx, expected %#lx", path, attributes, wantAttributes);
        HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
        if (file == INVALID_HANDLE_VALUE)
            Fail("cannot open %s", path);
        FILETIME created, accessed, written;
        GetFileTime(file, &created, &accessed, &written);
        CloseHandle(file);
        unsigned long long writeTime = ((unsigned long long)written.dwHighDateTime << 32) | written.dwLowDateTime;
        unsigned long long accessTime = ((unsigned long long)accessed.dwHighDateTime << 32) | accessed.dwLowDateTime;
        if (writeTime != wantTime || accessTime != wantTime)
            Fail("%s: write time %llu, access time %llu, expected %llu", path, writeTime,
                 accessTime, wantTime);
        char sourcePath[MAX_PATH * 2];
        snprintf(sourcePath, sizeof(sourcePath), "%s\\%s", source, relative);
        char *got, *want;
        DWORD gotSize, sourceSize;
        if (!ReadWhole(path, &got, &gotSize) || !ReadWhole(sourcePath, &want, &sourceSize))
            Fail("cannot read %s or %s", path, sourcePath);
        if (gotSize != wantSize || sourceSize != wantSize || memcmp(got, want, wantSize))
            Fail("%s differs from %s (%lu bytes, expected %lu)", path, sourcePath, gotSize, wantSize);
        free(got);
        free(want);
        files++;
    }
    free(expect);
    if (extra)
        for (const char* p = extra; *p;) {
            const char* comma = strchr(p, ',');
            size_t n = comma ? (size_t)(comma - p) : strlen(p);
            snprintf(listed[listedCount++].path, MAX_PATH, "%.*s", (int)n, p);
            p += n + (comma ? 1 : 0);
        }
    CountTree(target, "");
    Note("verified %d files and %d directories in %s", files, directories, target);
}

// --- the folder browser ---

enum { FOLDER_LIST = 1008, DRIVE_LIST = 1009 };

// An entry's text of another process's owner-drawn list: Wine hands it over in its wide
// form only, so it is asked for wide and turned back.
static void ItemText(HWND control, UINT message, int index, char* text, int capacity)
{
    WCHAR wide[600] = L"";
    SendMessageW(control, message, index, (LPARAM)wide);
    ToUtf8(wide, text, capacity);
}

// The folder list as "text=kind|..." with the selected entry marked by a leading '>'.
static void FolderEntries(char* out, size_t capacity)
{
    HWND list = GetDlgItem(dialog, FOLDER_LIST);
    int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    int selected = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
    out[0] = 0;
    for (int i = 0; i < count; i++) {
        char text[600];
        ItemText(list, LB_GETTEXT, i, text, sizeof(text));
        size_t used = strlen(out);
        snprintf(out + used, capacity - used, "%s%s%s=%ld", i ? "|" : "", i == selected ? ">" : "",
                 text, (long)SendMessageA(list, LB_GETITEMDATA, i, 0));
    }
}

static int FindFolderEntry(const char* text)
{
    int index = (int)SendMessageW(GetDlgItem(dialog, FOLDER_LIST), LB_FINDSTRINGEXACT, (WPARAM)-1,
                                  (LPARAM)Wide(text).c_str());
    if (index < 0) {
        char seen[4096];
        FolderEntries(seen, sizeof(seen));
        Fail("no folder entry %s among %s", text, seen);
    }
    return index;
}

// Selects an entry and opens it as the user would: a double click on it, or Enter while
// the list has the focus (posted to the list, so the dialog manager sees the key first).
static void OpenFolderEntry(const char* text, const char* how)
{
    HWND list = GetDlgItem(dialog, FOLDER_LIST);
    int index = FindFolderEntry(text);
    if (!strcmp(how, "dblclick")) {
        RECT item;
        SendMessageA(list, LB_GETITEMRECT, index, (LPARAM)&item);
        LPARAM at = MAKELPARAM(item.left + 40, (item.top + item.bottom) / 2);
        PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(list, WM_LBUTTONUP, 0, at);
        PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMessageA(list, WM_LBUTTONUP, 0, at);
    } else {
        SendMessageA(list, LB_SETCURSEL, index, 0);
        PostMessageA(list, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        PostMessageA(list, WM_KEYUP, VK_RETURN, 0xC01C0001);
    }
}

// Counts, in the capture, the pixels of a colour inside a rectangle of the window's client.
static int CountColour(const Capture& capture, RECT area, DWORD colour)
{
    int n = 0;
    for (int y = area.top < 0 ? 0 : area.top; y < area.bottom && y < capture.height; y++)
        for (int x = area.left < 0 ? 0 : area.left; x < area.right && x < capture.width; x++)
            n += Pixel(capture, x, y) == colour;
    return n;
}

// The pictures beside the entries, read from the screen: each folder entry's picture box
// (indented 8 pixels a level, 2 pixels in) holds the folder's yellow, the current
// folder's box also the grey of its front, a subfolder's no grey; the text column right
// of the pictures holds no yellow; the drive list's face shows a drive picture's grey
// and dark grey.
static void CheckBrowserPixels()
{
    HWND list = GetDlgItem(dialog, FOLDER_LIST);
    HWND drives = GetDlgItem(dialog, DRIVE_LIST);
    DWORD start = GetTickCount();
    for (;;) {
        char problem[512] = "";
        Capture capture = CaptureClient(list);
        int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        int top = (int)SendMessageA(list, LB_GETTOPINDEX, 0, 0);
        int checked = 0;
        for (int i = top; i < count && !problem[0]; i++) {
            RECT item;
            SendMessageA(list, LB_GETITEMRECT, i, (LPARAM)&item);
            if (item.bottom > capture.height)
                break;
            char text[600];
            ItemText(list, LB_GETTEXT, i, text, sizeof(text));
            long kind = (long)SendMessageA(list, LB_GETITEMDATA, i, 0);
            int indent = atoi(std::string(text, 3).c_str()) * 8;
            RECT box = {item.left + indent + 2, item.top, item.left + indent + 18, item.bottom};
            RECT words = {item.left + indent + 22, item.top, item.right, item.bottom};
            int yellow = CountColour(capture, box, 0xFFFF00);
            int grey = CountColour(capture, box, 0xC0C0C0);
            if (yellow < 8 || (kind == 2) != (grey >= 3) || CountColour(capture, words, 0xFFFF00))
                snprintf(problem, sizeof(problem), "entry %s (kind %ld): %d yellow, %d grey pixels in its picture",
                         text, kind, yellow, grey);
            checked++;
        }
        free(capture.pixels);
        RECT face = {2, 0, 18, 0};
        Capture combo = CaptureClient(drives);
        face.bottom = combo.height;
        int light = CountColour(combo, face, 0xC0C0C0), dark = CountColour(combo, face, 0x808080);
        if (!problem[0] && (light < 8 || dark < 8))
            snprintf(problem, sizeof(problem), "drive picture: %d grey, %d dark grey pixels", light, dark);
        free(combo.pixels);
        if (!problem[0] && checked) {
            Note("browser: pictures of %d folder entries and the drive checked", checked);
            return;
        }
        if (GetTickCount() - start > SCREEN_LAG_MS)
            Fail("%s", problem[0] ? problem : "no folder entries to check");
        Sleep(POLL_MS);
    }
}

// --- the program group, as the shell keeps it ---

// The user's Programs folder, or with common every user's.
static void ProgramsFolder(char* path, int common = 0)
{
    WCHAR wide[MAX_PATH];
    if (SHGetFolderPathW(0, common ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS, 0, 0, wide) != S_OK)
        Fail("no Programs folder");
    ToUtf8(wide, path, MAX_PATH);
}

// The target, arguments and working directory of a shortcut (each MAX_PATH), "" when it
// cannot be read.
static void LinkTarget(const char* linkPath, char* target, char* arguments = 0, char* directory = 0)
{
    char unused[2][MAX_PATH];
    arguments = arguments ? arguments : unused[0];
    directory = directory ? directory : unused[1];
    target[0] = arguments[0] = directory[0] = 0;
    IShellLinkW* link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void**)&link)))
        Fail("no shell link object");
    IPersistFile* file;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
        WCHAR wide[MAX_PATH] = L"";
        if (SUCCEEDED(file->Load(Wide(linkPath).c_str(), STGM_READ))) {
            link->GetPath(wide, MAX_PATH, 0, 0);
            ToUtf8(wide, target, MAX_PATH);
            wide[0] = 0;
            link->GetArguments(wide, MAX_PATH);
            ToUtf8(wide, arguments, MAX_PATH);
            wide[0] = 0;
            link->GetWorkingDirectory(wide, MAX_PATH);
            ToUtf8(wide, directory, MAX_PATH);
        }
        file->Release();
    }
    link->Release();
}

// Two paths name the same file (the installer may send the short form).
static int SamePath(const char* a, const char* b)
{
    WCHAR longA[MAX_PATH], longB[MAX_PATH];
    if (!GetLongPathNameW(Wide(a).c_str(), longA, MAX_PATH))
        lstrcpynW(longA, Wide(a).c_str(), MAX_PATH);
    if (!GetLongPathNameW(Wide(b).c_str(), longB, MAX_PATH))
        lstrcpynW(longB, Wide(b).c_str(), MAX_PATH);
    return !lstrcmpiW(longA, longB);
}

// Waits for GROUP\TITLE.lnk under the Programs folder and checks its target.
static void CheckLink(const char* group, const char* title, const char* expected)
{
    char folder[MAX_PATH], path[MAX_PATH * 2], target[MAX_PATH];
    ProgramsFolder(folder);
    snprintf(path, sizeof(path), "%s\\%s\\%s.lnk", folder, group, title);
    DWORD start = GetTickCount();
    for (;;) {
        if (Attributes(path) != INVALID_FILE_ATTRIBUTES) {
            LinkTarget(path, target);
            if (target[0] && SamePath(target, expected)) {
                Note("%s -> %s", path, target);
                return;
            }
        }
        if (GetTickCount() - start > TIMEOUT_MS)
            Fail("%s %s, expected a link to %s", path,
                 Attributes(path) == INVALID_FILE_ATTRIBUTES ? "is missing" : "points elsewhere",
                 expected);
        Sleep(POLL_MS);
    }
}

// GROUP\TITLE.lnk under the user's (user) or every user's (common) Programs folder, with
// its target, arguments and working directory; the install has ended, so no wait.
static void CheckShortcut(const char* where, const char* group, const char* title, const char* expected,
                          const char* expectedArguments, const char* expectedDirectory)
{
    char folder[MAX_PATH], path[MAX_PATH * 2], target[MAX_PATH], arguments[MAX_PATH], directory[MAX_PATH];
    ProgramsFolder(folder, !strcmp(where, "common"));
    snprintf(path, sizeof(path), "%s\\%s\\%s.lnk", folder, group, title);
    if (Attributes(path) == INVALID_FILE_ATTRIBUTES)
        Fail("%s is missing", path);
    LinkTarget(path, target, arguments, directory);
    if (!SamePath(target, expected) || strcmp(arguments, expectedArguments) || !SamePath(directory, expectedDirectory))
        Fail("%s: target \"%s\", arguments \"%s\", directory \"%s\"; expected \"%s\", \"%s\", \"%s\"", path, target,
             arguments, directory, expected, expectedArguments, expectedDirectory);
    Note("%s -> %s | %s | %s", path, target, arguments, directory);
}

// Top-level windows that other processes show (the shell's Explorer windows): a hook
// for every process, and the window list against the one seen when the watch began.
static HWINEVENTHOOK foreignHook;
static char foreignFirst[300];
static std::string foreignBefore;  // the visible top-level windows at the start, as "%p;"

static int IsForeignWindow(HWND window)
{
    DWORD process;
    GetWindowThreadProcessId(window, &process);
    return process != GetCurrentProcessId() && process != subject.dwProcessId &&
           GetAncestor(window, GA_PARENT) == GetDesktopWindow() && IsWindowVisible(window);
}

static void NoteForeign(HWND window, const char* how)
{
    if (foreignFirst[0])
        return;
    char className[64] = "", caption[200] = "";
    GetClassNameA(window, className, sizeof(className));
    WindowText(window, caption, sizeof(caption));
    snprintf(foreignFirst, sizeof(foreignFirst), "%s: class \"%s\", \"%s\"", how, className, caption);
}

static void CALLBACK OnForeignEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (object == OBJID_WINDOW && child == CHILDID_SELF && window && IsForeignWindow(window))
        NoteForeign(window, "shown");
}

static BOOL CALLBACK ListForeign(HWND window, LPARAM parameter)
{
    if (!IsForeignWindow(window))
        return TRUE;
    char key[32];
    snprintf(key, sizeof(key), "%p;", (void*)window);
    if (!parameter)
        foreignBefore += key;
    else if (foreignBefore.find(key) == std::string::npos)
        NoteForeign(window, "listed");
    return TRUE;
}

// Lists GROUP's shortcuts and their targets once COUNT of them exist.
static void ListGroup(const char* group, int count)
{
    char folder[MAX_PATH], pattern[MAX_PATH * 2];
    DWORD start = GetTickCount();
    // Shortcuts go to every user's Programs (the user's for a per-user install); a
    // program manager group to the user's.
    for (int common = 1;; common = !common) {
        ProgramsFolder(folder, common);
        snprintf(pattern, sizeof(pattern), "%s\\%s\\*.lnk", folder, group);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(Wide(pattern).c_str(), &found);
        int n = 0;
        char lines[4096] = "";
        if (search != INVALID_HANDLE_VALUE) {
            do {
                char path[MAX_PATH * 2], target[MAX_PATH];
                std::string name = Utf8(found.cFileName);
                snprintf(path, sizeof(path), "%s\\%s\\%s", folder, group, name.c_str());
                LinkTarget(path, target);
                WCHAR wide[MAX_PATH];  // the installer may send short forms
                if (GetLongPathNameW(Wide(target).c_str(), wide, MAX_PATH))
                    ToUtf8(wide, target, MAX_PATH);
                size_t used = strlen(lines);
                snprintf(lines + used, sizeof(lines) - used, "  %-24s -> %s\n", name.c_str(), target);
                n++;
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        if (n >= count) {
            printf("program group \"%s\" (%s):\n%s", group, folder, lines);
            return;
        }
        if (GetTickCount() - start > TIMEOUT_MS)
            Fail("%d of %d shortcuts in group %s", n, count, group);
        if (!common)
            Sleep(POLL_MS);
    }
}

// --- windows made at any moment ---

// The system reports every window that a started installer creates, and (on Windows)
// every one it shows, however briefly: a window-list poll alone could miss one that
// comes and goes. A silent install may make message-only windows (never shown), the
// system's own input-method window and DDEML's hidden ones, nothing else.
struct ShowWatch {
    DWORD process;
    HWINEVENTHOOK hook;
    int reported;        // windows reported, of any kind
    int made;            // windows other than message-only and input-method ones
    char first[300];     // the first of those: class and caption
};
static ShowWatch watches[2];  // subject, waiter
static HWND messageRoot;      // the parent of message-only windows

static void CALLBACK OnWindowEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child,
                                   DWORD, DWORD)
{
    if (object != OBJID_WINDOW || child != CHILDID_SELF || !window)
        return;
    for (ShowWatch& watch : watches) {
        if (watch.hook != hook)
            continue;
        watch.reported++;
        char className[64] = "", caption[200] = "";
        GetClassNameA(window, className, sizeof(className));
        WindowText(window, caption, sizeof(caption));
        HWND parent = GetAncestor(window, GA_PARENT);
        // A creation is reported after the fact: a window already gone by then cannot be
        // told from the message-only window of a silent install that ended at once, and
        // counts only when it was also reported shown. A window that waits for an answer
        // is still there.
        // DDEML (the uninstaller's program manager conversation) makes hidden windows of
        // its own, which are never shown: a show of one still counts.
        if (event == EVENT_OBJECT_CREATE &&
            (!IsWindow(window) || parent == messageRoot || !strcmp(className, "IME") ||
             !strncmp(className, "WineDde", 7) || !strncmp(className, "DDEML", 5)))
            continue;
        if (!watch.made++)
            snprintf(watch.first, sizeof(watch.first), "%s of class \"%s\", \"%s\"",
                     event == EVENT_OBJECT_SHOW ? "shown" : "made", className, caption);
    }
}

// Hands the hook's reports to OnWindowEvent.
static void PumpOwnMessages()
{
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

// A visible top-level window of the process, from the window list.
static HWND VisibleWindowOf(DWORD process)
{
    return FindSubjectWindow(process, 0, 0, 0, 0);
}

// Waits for the end of a process that must show nothing, watching both the reports and
// the window list all the while. Returns the exit code.
static DWORD WaitUnseen(PROCESS_INFORMATION* process, ShowWatch* watch, DWORD limit)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &process->hProcess, FALSE, POLL_MS, QS_ALLINPUT);
        PumpOwnMessages();
        HWND visible = VisibleWindowOf(process->dwProcessId);
        if (visible) {
            char className[64] = "", caption[200] = "";
            GetClassNameA(visible, className, sizeof(className));
            WindowText(visible, caption, sizeof(caption));
            Fail("a window is visible: class %s, \"%s\"", className, caption);
        }
        if (watch->made)
            Fail("%d window(s) made or shown, the first %s", watch->made, watch->first);
        if (woken == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - start > limit)
            Fail("the process did not end within %lu ms", limit);
    }
    DWORD code;
    GetExitCodeProcess(process->hProcess, &code);
    return code;
}

// --- steps ---

// Starts EXE with its quoted name and ARGUMENTS (0: none) as the command line, suspended
// until the show watch is in place.
static void Start(PROCESS_INFORMATION* process, ShowWatch* watch, const char* exe,
                  const char* directory, const char* arguments)
{
    static char commandLine[4096];
    snprintf(commandLine, sizeof(commandLine), "\"%s\"%s%s", exe, arguments ? " " : "",
             arguments ? arguments : "");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring wideCommandLine = Wide(commandLine);
    if (!CreateProcessW(Wide(exe).c_str(), &wideCommandLine[0], 0, 0, FALSE, CREATE_SUSPENDED, 0,
                        directory ? Wide(directory).c_str() : 0, &startup, process))
        Fail("cannot start %s (error %lu)", exe, GetLastError());
    if (watch->hook)
        UnhookWinEvent(watch->hook);
    *watch = ShowWatch();
    watch->process = process->dwProcessId;
    if (!messageRoot)
        messageRoot = GetAncestor(CreateWindowExA(0, "Static", "", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, 0, 0), GA_PARENT);
    watch->hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, 0, OnWindowEvent,
                                  process->dwProcessId, 0, WINEVENT_OUTOFCONTEXT);
    if (!watch->hook)
        Fail("cannot watch the windows of %s (error %lu)", exe, GetLastError());
    ResumeThread(process->hThread);
}

static void StartSubject(const char* exe, const char* directory, const char* arguments = 0)
{
    Start(&subject, &watches[0], exe, directory, arguments);
}

static DWORD WaitExit(PROCESS_INFORMATION* process, int watchWindows)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(process->hProcess, POLL_MS) == WAIT_OBJECT_0)
            break;
        // A box appearing now would be a message the user should not have seen.
        if (watchWindows)
            ExpectNoOtherWindow();
        if (GetTickCount() - start > TIMEOUT_MS)
            Fail("the process did not end");
    }
    DWORD code;
    GetExitCodeProcess(process->hProcess, &code);
    return code;
}

static int Run(int argc, char** argv)
{
    int i = 1;
    while (i < argc) {
        stepNumber++;
        stepName = argv[i];
        const char* step = argv[i];
        const char* a[6] = {};
        int n = 0;
        for (i++; i < argc && strcmp(argv[i], "--") && n < 6; i++)
            a[n++] = argv[i];
        if (i < argc && !strcmp(argv[i], "--"))
            i++;

        if (!strcmp(step, "run")) {  // EXE DIRECTORY [ARGUMENTS]
            StartSubject(a[0], a[1], a[2]);
        } else if (!strcmp(step, "unseen-exit")) {  // CODE [MS]: ends showing no window at all
            DWORD code = WaitUnseen(&subject, &watches[0], a[1] ? strtoul(a[1], 0, 10) : TIMEOUT_MS);
            if (code != strtoul(a[0], 0, 10))
                Fail("exit code %lu, expected %s", code, a[0]);
        } else if (!strcmp(step, "watched")) {  // the watch saw the subject's windows (its self-test)
            PumpOwnMessages();
            if (!watches[0].made)
                Fail("no window of the installer was reported");
            Note("%d windows reported, the first %s", watches[0].reported, watches[0].first);
        } else if (!strcmp(step, "also")) {  // EXE DIRECTORY ARGUMENTS: a second installer beside
            Start(&waiter, &watches[1], a[0], a[1], a[2]);
        } else if (!strcmp(step, "also-waits")) {  // MS: it runs on, showing nothing
            // An observation over a span of time, not a wait for a condition.
            DWORD start = GetTickCount();
            while (GetTickCount() - start < strtoul(a[0], 0, 10)) {
                if (WaitForSingleObject(waiter.hProcess, POLL_MS) == WAIT_OBJECT_0) {
                    DWORD code;
                    GetExitCodeProcess(waiter.hProcess, &code);
                    Fail("the second installer ended with %lu instead of waiting", code);
                }
                PumpOwnMessages();
                if (watches[1].made || VisibleWindowOf(waiter.dwProcessId))
                    Fail("the second installer makes a window: %s", watches[1].first);
            }
        } else if (!strcmp(step, "also-exit")) {  // CODE: the second installer's end, unseen
            DWORD code = WaitUnseen(&waiter, &watches[1], TIMEOUT_MS);
            if (code != strtoul(a[0], 0, 10))
                Fail("the second installer's exit code %lu, expected %s", code, a[0]);
        } else if (!strcmp(step, "second")) {  // EXE CODE: a second start shows nothing
            PROCESS_INFORMATION second;
            Start(&second, &watches[1], a[0], 0, 0);
            DWORD code = WaitUnseen(&second, &watches[1], TIMEOUT_MS);
            if (code != strtoul(a[1], 0, 10))
                Fail("the second instance ended with %lu, expected %s", code, a[1]);
            CloseHandle(second.hProcess);
            CloseHandle(second.hThread);
        } else if (!strcmp(step, "dialog")) {  // CAPTION CONTROL: the dialog holding CONTROL
            DWORD start = GetTickCount();
            for (HWND except = 0;;) {
                dialog = WaitWindow("#32770", a[0], except);
                if (GetDlgItem(dialog, atoi(a[1])))
                    break;
                // Another dialog of the same caption, perhaps on its way out.
                except = dialog;
                if (GetTickCount() - start > TIMEOUT_MS)
                    Fail("no dialog \"%s\" with control %s", a[0], a[1]);
                Sleep(POLL_MS);
            }
        } else if (!strcmp(step, "text")) {  // ID TEXT
            WaitText(dialog, atoi(a[0]), a[1], 0);
        } else if (!strcmp(step, "set")) {  // ID TEXT
            SendMessageW(GetDlgItem(dialog, atoi(a[0])), WM_SETTEXT, 0, (LPARAM)Wide(a[1]).c_str());
        } else if (!strcmp(step, "click")) {  // ID
            Press(dialog, atoi(a[0]));
        } else if (!strcmp(step, "check-state")) {  // ID CHECKED ENABLED
            HWND box = GetDlgItem(dialog, atoi(a[0]));
            int checked = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
            int enabled = IsWindowEnabled(box) != 0;
            if (checked != atoi(a[1]) || enabled != atoi(a[2]))
                Fail("control %s: checked %d enabled %d", a[0], checked, enabled);
        } else if (!strcmp(step, "box")) {  // CAPTION TEXT OWNER(dialog|background|none|any) ANSWER
            HWND box = WaitBox(a[0], a[1], a[2]);
            Press(box, AnswerId(a[3]));
            WaitGone(box, "the message box");
        } else if (!strcmp(step, "box-up")) {  // CAPTION TEXT OWNER: wait for it, answer nothing
            heldBox = WaitBox(a[0], a[1], a[2]);
        } else if (!strcmp(step, "box-gone")) {  // the box of box-up or hold went by itself
            WaitGone(heldBox, "the box");
        } else if (!strcmp(step, "box-start")) {  // CAPTION TEXT-START ANSWER: a box of no owner
            HWND box = WaitWindow("#32770", a[0], dialog);
            WaitText(box, MESSAGE_TEXT_ID, a[1], 1);
            Press(box, AnswerId(a[2]));
            WaitGone(box, "the message box");
        } else if (!strcmp(step, "escape")) {  // the Escape key, as the dialog manager gets it
            PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageA(dialog, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        } else if (!strcmp(step, "close")) {  // the caption's close button
            PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else if (!strcmp(step, "wm-close")) {  // a close request, as taskkill or a logoff sends
            HWND background = BackgroundWindow();
            if (!background)
                background = FindWindowA("Quillstead", 0);
            if (!background)
                Fail("no background window");
            PostMessageA(background, WM_CLOSE, 0, 0);
        } else if (!strcmp(step, "sync")) {  // BUTTON: all earlier posts handled
            Sync(atoi(a[0]));
        } else if (!strcmp(step, "alive")) {  // the dialog is up and nothing else is
            if (!IsWindow(dialog) || !IsWindowVisible(dialog))
                Fail("the dialog is gone");
            ExpectNoOtherWindow();
        } else if (!strcmp(step, "gone")) {
            WaitGone(dialog, "the dialog");
        } else if (!strcmp(step, "exit")) {  // CODE, with no window appearing meanwhile
            DWORD code = WaitExit(&subject, 1);
            if (code != strtoul(a[0], 0, 10))
                Fail("exit code %lu, expected %s", code, a[0]);
        } else if (!strcmp(step, "hold")) {  // press Break, wait for the question
            Press(dialog, 1011);
            heldBox = WaitBox("Confirmation", "Break installation?", "dialog");
            // Out of the bar's way, so that the bar can be read from the screen.
            RECT box;
            GetWindowRect(heldBox, &box);
            SetWindowPos(heldBox, 0, GetSystemMetrics(SM_CXSCREEN) - (box.right - box.left),
                         GetSystemMetrics(SM_CYSCREEN) - (box.bottom - box.top), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        } else if (!strcmp(step, "answer")) {  // yes|no, to the break question
            Press(heldBox, AnswerId(a[0]));
            WaitGone(heldBox, "the break question");
        } else if (!strcmp(step, "still")) {  // MS: status and bar do not move while held
            char before[512], now[512];
            HWND bar = GetDlgItem(dialog, 1068);
            ControlText(dialog, 1012, before, sizeof(before));
            BarState first = ReadBar(bar);
            // An observation over a span of time, not a wait for a condition.
            DWORD start = GetTickCount();
            while (GetTickCount() - start < strtoul(a[0], 0, 10)) {
                ControlText(dialog, 1012, now, sizeof(now));
                BarState later = ReadBar(bar);
                if (strcmp(before, now) || later.position != first.position)
                    Fail("moved while held: \"%s\" at %lu became \"%s\" at %lu", before,
                         first.position, now, later.position);
                Sleep(POLL_MS);
            }
        } else if (!strcmp(step, "break-no")) {  // N: ask and answer No N times
            int cycles = atoi(a[0]);
            DWORD lastPosition = 0;
            for (int k = 0; k < cycles; k++) {
                char button[64];
                ControlText(dialog, 1011, button, sizeof(button));
                if (strcmp(button, "Break"))
                    Fail("the worker finished after %d of %d questions", k, cycles);
                Press(dialog, 1011);
                heldBox = WaitBox("Confirmation", "Break installation?", "dialog");
                BarState state = ReadBar(GetDlgItem(dialog, 1068));
                if (state.position < lastPosition)
                    Fail("the bar went back from %lu to %lu", lastPosition, state.position);
                lastPosition = state.position;
                Press(heldBox, IDNO);
                // The worker runs on until the next press: a quick one keeps fifty cycles
                // within the archive, however fast the installer.
                WaitGone(heldBox, "the break question", 1);
            }
            Note("%d questions answered No, bar at %lu", cycles, lastPosition);
        } else if (!strcmp(step, "bar")) {  // LOWER UPPER POSITION: the bar's state
            BarState state = ReadBar(GetDlgItem(dialog, 1068));
            if (state.lower != strtoul(a[0], 0, 10) || state.upper != strtoul(a[1], 0, 10) ||
                state.position != strtoul(a[2], 0, 10))
                Fail("bar %lu..%lu at %lu, expected %s..%s at %s", state.lower, state.upper,
                     state.position, a[0], a[1], a[2]);
        } else if (!strcmp(step, "bar-pixels")) {
            CheckBarPixels(GetDlgItem(dialog, 1068));
        } else if (!strcmp(step, "bar-sweep")) {  // the whole picture at every change (SweepBar)
            SweepBar(GetDlgItem(dialog, 1068));
        } else if (!strcmp(step, "background")) {  // CLIENT-HEIGHT
            CheckBackground(atoi(a[0]));
        } else if (!strcmp(step, "fits")) {  // ID...: each control of the dialog shows its whole text
            for (int k = 0; k < n; k++)
                CheckTextFits(atoi(a[k]));
        } else if (!strcmp(step, "measure")) {  // NAME dialog|title: prints "size NAME WIDTH HEIGHT"
            int width, height;
            if (!strcmp(a[1], "title")) {
                MeasureTitle(&width, &height);
            } else {
                RECT frame;
                GetWindowRect(dialog, &frame);
                width = frame.right - frame.left;
                height = frame.bottom - frame.top;
            }
            Note("size %s %d %d", a[0], width, height);
        } else if (!strcmp(step, "background-dpi")) {  // DPI WIDTH HEIGHT: WM_DPICHANGED, a new frame
            CheckBackgroundDpiChange(atoi(a[0]), atoi(a[1]), atoi(a[2]));
        } else if (!strcmp(step, "bar-dpi")) {  // the bar repaints after its dialog's DPI change
            CheckBarDpiChange(GetDlgItem(dialog, 1068));
        } else if (!strcmp(step, "background-state")) {  // iconic|zoomed
            HWND window = FindWindowA("Quillstead", 0);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (!window || process != subject.dwProcessId)
                Fail("no background window");
            DWORD start = GetTickCount();
            while (!strcmp(a[0], "iconic") ? !IsIconic(window) : !IsZoomed(window)) {
                if (GetTickCount() - start > TIMEOUT_MS)
                    Fail("the background window is not %s", a[0]);
                Sleep(POLL_MS);
            }
        } else if (!strcmp(step, "openfile-up")) {  // wait for the open-file dialog, answer nothing
            heldBox = WaitWindow("#32770", "Open", dialog);
        } else if (!strcmp(step, "openfile")) {  // PATH or "cancel"
            HWND open = WaitWindow("#32770", "Open", dialog);
            if (GetWindow(open, GW_OWNER) != dialog)
                Fail("the open-file dialog is not owned by the progress dialog");
            if (!strcmp(a[0], "cancel")) {
                Press(open, IDCANCEL);
            } else {
                HWND name = GetDlgItem(open, 0x47C);  // the file name box
                if (!name)
                    name = GetDlgItem(open, 0x480);
                SendMessageW(name, WM_SETTEXT, 0, (LPARAM)Wide(a[0]).c_str());
                Press(open, IDOK);
            }
            WaitGone(open, "the open-file dialog");
        } else if (!strcmp(step, "browse")) {  // CAPTION (* any): press Browse; the browser becomes the dialog
            outerDialog = dialog;
            Press(dialog, 1002);
            HWND browser = 0;
            DWORD start = GetTickCount();
            while (!browser || !GetDlgItem(browser, FOLDER_LIST)) {
                browser = WaitWindow("#32770", strcmp(a[0], "*") ? a[0] : 0, outerDialog);
                if (GetTickCount() - start > TIMEOUT_MS)
                    Fail("no folder browser");
                Sleep(POLL_MS);
            }
            if (GetWindow(browser, GW_OWNER) != outerDialog)
                Fail("the browser is not owned by the install-directory dialog");
            dialog = browser;
        } else if (!strcmp(step, "browser-end")) {  // ok|cancel: back to the outer dialog
            Press(dialog, !strcmp(a[0], "ok") ? IDOK : IDCANCEL);
            WaitGone(dialog, "the browser");
            dialog = outerDialog;
            outerDialog = 0;
        } else if (!strcmp(step, "entries")) {  // "TEXT=KIND|>SELECTED=KIND|..."
            char seen[8192];
            DWORD start = GetTickCount();
            for (;;) {
                FolderEntries(seen, sizeof(seen));
                if (!strcmp(seen, a[0]))
                    break;
                FailOnOtherBox(0);
                if (GetTickCount() - start > TIMEOUT_MS)
                    Fail("folder list %s, expected %s", seen, a[0]);
                Sleep(POLL_MS);
            }
        } else if (!strcmp(step, "open")) {  // ENTRY dblclick|enter
            OpenFolderEntry(a[0], a[1]);
        } else if (!strcmp(step, "list-key")) {  // VK: a key pressed in the folder list
            HWND list = GetDlgItem(dialog, FOLDER_LIST);
            PostMessageA(list, WM_KEYDOWN, atoi(a[0]), 1);
            PostMessageA(list, WM_KEYUP, atoi(a[0]), 0xC0000001);
        } else if (!strcmp(step, "pick-drive")) {  // PREFIX: the user chooses a drive entry
            HWND drives = GetDlgItem(dialog, DRIVE_LIST);
            int index = (int)SendMessageW(drives, CB_FINDSTRING, (WPARAM)-1, (LPARAM)Wide(a[0]).c_str());
            if (index < 0)
                Fail("no drive entry %s", a[0]);
            SendMessageA(drives, CB_SETCURSEL, index, 0);
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(DRIVE_LIST, CBN_SELCHANGE), (LPARAM)drives);
        } else if (!strcmp(step, "drive")) {  // TEXT: the drive list shows this entry
            HWND drives = GetDlgItem(dialog, DRIVE_LIST);
            char text[600] = "";
            DWORD start = GetTickCount();
            for (;;) {
                // A drop-down list's text is its selected entry's.
                ControlText(drives, 0, text, sizeof(text));
                if (!strncmp(text, a[0], strlen(a[0])))
                    break;
                if (GetTickCount() - start > TIMEOUT_MS)
                    Fail("the drive list shows \"%s\", expected \"%s\"", text, a[0]);
                Sleep(POLL_MS);
            }
        } else if (!strcmp(step, "drives")) {  // the drive list: lowercase, sorted, printed
            HWND drives = GetDlgItem(dialog, DRIVE_LIST);
            int count = (int)SendMessageA(drives, CB_GETCOUNT, 0, 0);
            char previous[600] = "";
            for (int i = 0; i < count; i++) {
                char text[600];
                ItemText(drives, CB_GETLBTEXT, i, text, sizeof(text));
                Note("drive entry \"%s\", type %ld", text, (long)SendMessageA(drives, CB_GETITEMDATA, i, 0));
                for (char* c = text; *c; c++)
                    if (*c >= 'A' && *c <= 'Z')
                        Fail("drive entry %s is not in lowercase", text);
                if (lstrcmpiA(previous, text) > 0)
                    Fail("drive entry %s sorts after %s", previous, text);
                snprintf(previous, sizeof(previous), "%s", text);
            }
        } else if (!strcmp(step, "browser-pixels")) {
            CheckBrowserPixels();
        } else if (!strcmp(step, "link")) {  // GROUP TITLE TARGET
            CheckLink(a[0], a[1], a[2]);
        } else if (!strcmp(step, "shortcut")) {  // user|common GROUP TITLE TARGET ARGUMENTS DIRECTORY
            CheckShortcut(a[0], a[1], a[2], a[3], a[4] ? a[4] : "", a[5] ? a[5] : "");
        } else if (!strcmp(step, "no-group-in")) {  // user|common GROUP: no such folder there
            char folder[MAX_PATH], path[MAX_PATH * 2];
            ProgramsFolder(folder, !strcmp(a[0], "common"));
            snprintf(path, sizeof(path), "%s\\%s", folder, a[1]);
            if (Attributes(path) != INVALID_FILE_ATTRIBUTES)
                Fail("%s exists", path);
        } else if (!strcmp(step, "foreign-watch")) {  // from now on, other processes' windows count
            foreignFirst[0] = 0;
            foreignBefore.clear();
            EnumWindows(ListForeign, 0);
            foreignHook = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, 0, OnForeignEvent, 0, 0,
                                          WINEVENT_OUTOFCONTEXT);
            if (!foreignHook)
                Fail("cannot watch the windows of other processes (error %lu)", GetLastError());
        } else if (!strcmp(step, "no-foreign-window")) {  // MS: none shown since the watch began, nor for MS
            // An observation over a span: the shell would open its window some time after the group.
            DWORD start = GetTickCount(), span = strtoul(a[0], 0, 10);
            do {
                MsgWaitForMultipleObjects(0, 0, FALSE, 50, QS_ALLINPUT);
                PumpOwnMessages();
                EnumWindows(ListForeign, 1);
                if (foreignFirst[0])
                    Fail("another process showed a window (%s)", foreignFirst);
            } while (GetTickCount() - start < span);
            UnhookWinEvent(foreignHook);
            foreignHook = 0;
        } else if (!strcmp(step, "group-list")) {  // GROUP COUNT
            ListGroup(a[0], atoi(a[1]));
        } else if (!strcmp(step, "no-group")) {  // GROUP: no such folder under Programs
            char folder[MAX_PATH], path[MAX_PATH * 2];
            ProgramsFolder(folder);
            snprintf(path, sizeof(path), "%s\\%s", folder, a[0]);
            if (Attributes(path) != INVALID_FILE_ATTRIBUTES)
                Fail("%s exists", path);
        } else if (!strcmp(step, "attributes")) {  // PATH VALUE: set, and read back
            DWORD value = strtoul(a[1], 0, 10);
            if (!SetFileAttributesW(Wide(a[0]).c_str(), value) || (Attributes(a[0]) & value) != value)
                Fail("%s does not keep the attributes %#lx", a[0], value);
        } else if (!strcmp(step, "verify")) {  // EXPECT SOURCE TARGET [EXTRA,NAMES]
            Verify(a[0], a[1], a[2], a[3]);
        } else if (!strcmp(step, "file-text")) {  // PATH TEXT (line ends trimmed)
            // Written by a process that nobody waits for: it may come a little later.
            DWORD start = GetTickCount();
            for (;;) {
                char* data = 0;
                DWORD size = 0;
                int read = ReadWhole(a[0], &data, &size);
                while (read && size &&
                       (data[size - 1] == '\n' || data[size - 1] == '\r' || data[size - 1] == ' '))
                    data[--size] = 0;
                int same = read && !lstrcmpiA(data, a[1]);
                if (!same && GetTickCount() - start > TIMEOUT_MS)
                    Fail("%s holds \"%s\", expected \"%s\"", a[0], read ? data : "(nothing)", a[1]);
                free(data);
                if (same)
                    break;
                Sleep(POLL_MS);
            }
        } else if (!strcmp(step, "absent")) {  // PATH
            if (Attributes(a[0]) != INVALID_FILE_ATTRIBUTES)
                Fail("%s exists", a[0]);
        } else if (!strcmp(step, "vanishes")) {  // PATH: gone now or soon (removed by another process)
            DWORD start = GetTickCount();
            while (Attributes(a[0]) != INVALID_FILE_ATTRIBUTES) {
                if (GetTickCount() - start > TIMEOUT_MS)
                    Fail("%s is still there", a[0]);
                Sleep(POLL_MS);
            }
        } else if (!strcmp(step, "exists")) {  // PATH
            if (Attributes(a[0]) == INVALID_FILE_ATTRIBUTES)
                Fail("%s is missing", a[0]);
        } else if (!strcmp(step, "version")) {  // PATH FILE-VERSION PRODUCT-NAME: as Explorer reads them
            DWORD handle = 0, size = GetFileVersionInfoSizeA(a[0], &handle);
            char* info = size ? (char*)malloc(size) : 0;
            if (!info || !GetFileVersionInfoA(a[0], 0, size, info))
                Fail("%s has no version information", a[0]);
            VS_FIXEDFILEINFO* fixed = 0;
            WORD* translation = 0;
            char* name = 0;
            UINT length = 0;
            if (!VerQueryValueA(info, "\\", (void**)&fixed, &length) || !fixed)
                Fail("%s has no fixed version information", a[0]);
            char version[64], query[128];
            sprintf(version, "%lu.%lu.%lu.%lu", fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
                    fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
            if (strcmp(version, a[1]))
                Fail("%s has version %s, expected %s", a[0], version, a[1]);
            if (!VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&translation, &length) || length < 4)
                Fail("%s has no translation", a[0]);
            sprintf(query, "\\StringFileInfo\\%04x%04x\\ProductName", translation[0], translation[1]);
            if (!VerQueryValueA(info, query, (void**)&name, &length) || strcmp(name, a[2]))
                Fail("%s: %s is \"%s\", expected \"%s\"", a[0], query, name ? name : "(none)", a[2]);
            free(info);
        } else if (!strcmp(step, "icon-images")) {  // PATH COUNT: images of icon group 101
            HMODULE module = LoadLibraryExA(a[0], 0, LOAD_LIBRARY_AS_DATAFILE);
            HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(101), (LPCSTR)RT_GROUP_ICON) : 0;
            WORD* group = found ? (WORD*)LockResource(LoadResource(module, found)) : 0;
            if (!group || group[2] != (WORD)atoi(a[1]))
                Fail("icon 101 of %s has %d images, expected %s", a[0], group ? group[2] : -1, a[1]);
            // The loader's choice for a 32x32 icon must come out of one of them.
            if (!LoadImageA(module, MAKEINTRESOURCEA(101), IMAGE_ICON, 32, 32, 0))
                Fail("icon 101 of %s does not load", a[0]);
            FreeLibrary(module);
        } else if (!strcmp(step, "relocated")) {  // PATH: moved from its base, every fixup applied
            // The driver holds the common base, so the loader must move the program, and can
            // only by its base relocation table. Each of the table's entries must have moved
            // its word by the distance; every other byte of every section stays as in the file.
            // Wine moves a program only as it moves a library (a program it starts gets its
            // base), so a copy marked as a library is what it maps: the same bytes otherwise.
            FILE* file = fopen(a[0], "rb");
            static unsigned char bytes[0xE000];
            size_t size = file ? fread(bytes, 1, sizeof(bytes), file) : 0;
            if (file)
                fclose(file);
            if (size < 0x400)
                Fail("cannot read %s", a[0]);
            IMAGE_NT_HEADERS32* nt = (IMAGE_NT_HEADERS32*)(bytes + *(DWORD*)(bytes + 0x3C));
            std::string copy = std::string(a[0]) + ".moved.dll";
            nt->FileHeader.Characteristics |= IMAGE_FILE_DLL;
            file = fopen(copy.c_str(), "wb");
            if (!file || fwrite(bytes, 1, size, file) != size || fclose(file))
                Fail("cannot write %s", copy.c_str());
            nt->FileHeader.Characteristics &= ~IMAGE_FILE_DLL;
            HMODULE module = LoadLibraryExA(copy.c_str(), 0, DONT_RESOLVE_DLL_REFERENCES);
            if (!module)
                Fail("cannot map %s (%lu)", copy.c_str(), GetLastError());
            unsigned char* mapped = (unsigned char*)module;
            DWORD distance = (DWORD)(mapped - (unsigned char*)nt->OptionalHeader.ImageBase);
            IMAGE_DATA_DIRECTORY table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
            if (!distance || !table.Size)
                Fail("%s was not moved (distance %lx, table of %lu bytes)", a[0], distance, table.Size);
            static unsigned char fixed[0x20000];  // by image address: 1 where a fixup is
            memset(fixed, 0, sizeof(fixed));
            DWORD fixups = 0;
            for (DWORD at = 0; at + 8 <= table.Size;) {
                IMAGE_BASE_RELOCATION* block = (IMAGE_BASE_RELOCATION*)(mapped + table.VirtualAddress + at);
                if (block->SizeOfBlock < 8 || at + block->SizeOfBlock > table.Size)
                    Fail("%s: a relocation block of %lu bytes", a[0], block->SizeOfBlock);
                WORD* entries = (WORD*)(block + 1);
                for (DWORD k = 0; k < (block->SizeOfBlock - 8) / 2; k++) {
                    DWORD where = block->VirtualAddress + (entries[k] & 0xFFF);
                    if (entries[k] >> 12 == IMAGE_REL_BASED_HIGHLOW && where + 4 <= sizeof(fixed)) {
                        memset(fixed + where, 1, 4);
                        fixups++;
                    }
                }
                at += block->SizeOfBlock;
            }
            IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
            DWORD moved = 0;
            for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++, section++) {
                DWORD length = section->Misc.VirtualSize < section->SizeOfRawData ? section->Misc.VirtualSize : section->SizeOfRawData;
                if (section->PointerToRawData + length > size)
                    Fail("%s: section %.8s runs past 0xE000", a[0], (const char*)section->Name);
                for (DWORD k = 0; k < length; k++) {
                    DWORD where = section->VirtualAddress + k;
                    if (where < sizeof(fixed) && fixed[where]) {
                        DWORD before = *(DWORD*)(bytes + section->PointerToRawData + k);
                        if (*(DWORD*)(mapped + where) != before + distance)
                            Fail("%s: the word at %lx was not moved: %lx in the file, %lx mapped at %p", a[0], where, before, *(DWORD*)(mapped + where), (void*)mapped);
                        moved++;
                        k += 3;
                    } else if (mapped[where] != bytes[section->PointerToRawData + k]) {
                        Fail("%s: the byte at %lx changed without a fixup", a[0], where);
                    }
                }
            }
            if (moved != fixups)
                Fail("%s: %lu fixups in the table, %lu of them in the sections", a[0], fixups, moved);
            // A table cut short moves less and still agrees with itself: every call through the
            // import address table names an address that the table must fix.
            IMAGE_DATA_DIRECTORY iat = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
            DWORD low = nt->OptionalHeader.ImageBase + iat.VirtualAddress, calls = 0;
            section = IMAGE_FIRST_SECTION(nt);
            for (DWORD k = 0; k + 6 <= section->Misc.VirtualSize; k++) {
                unsigned char* at = bytes + section->PointerToRawData + k;
                DWORD target = *(DWORD*)(at + 2);
                if (at[0] == 0xFF && (at[1] == 0x15 || at[1] == 0x25) && target >= low && target < low + iat.Size) {
                    if (!fixed[section->VirtualAddress + k + 2])
                        Fail("%s: the import call at %lx is not in the table", a[0], section->VirtualAddress + k);
                    calls++;
                }
            }
            if (!calls)
                Fail("%s: no import calls found", a[0]);
            printf("relocated: %lu fixups by %lx, %lu import calls among them\n", fixups, distance, calls);
            FreeLibrary(module);
            DeleteFileA(copy.c_str());
        } else if (!strcmp(step, "icon-load")) {  // PATH SIZE...: icon 101 as a window would load it
            // At each size the loader's choice comes out that size, its centre drawn: opaque
            // in the mask and not black (a PNG image that decoded to nothing is neither).
            HMODULE module = LoadLibraryExA(a[0], 0, LOAD_LIBRARY_AS_DATAFILE);
            if (!module)
                Fail("cannot open %s", a[0]);
            for (int s = 1; s < n; s++) {
                int size = atoi(a[s]);
                HICON icon = (HICON)LoadImageA(module, MAKEINTRESOURCEA(101), IMAGE_ICON, size, size, 0);
                ICONINFO info = {};
                if (!icon || !GetIconInfo(icon, &info) || !info.hbmColor)
                    Fail("icon 101 of %s does not load at %dx%d", a[0], size, size);
                BITMAP bitmap = {};
                GetObjectA(info.hbmColor, sizeof(bitmap), &bitmap);
                if (bitmap.bmWidth != size || bitmap.bmHeight != size)
                    Fail("icon 101 of %s loads at %dx%d as %ldx%ld", a[0], size, size, bitmap.bmWidth, bitmap.bmHeight);
                BITMAPINFO format = TopDownFormat(size, size);
                std::string colour(size * size * 4, '\0'), mask(size * size * 4, '\0');
                HDC dc = GetDC(0);
                GetDIBits(dc, info.hbmColor, 0, size, &colour[0], &format, DIB_RGB_COLORS);
                GetDIBits(dc, info.hbmMask, 0, size, &mask[0], &format, DIB_RGB_COLORS);
                ReleaseDC(0, dc);
                size_t centre = ((size / 2) * size + size / 2) * 4;
                bool drawn = (colour[centre] | colour[centre + 1] | colour[centre + 2]) != 0;
                bool opaque = (mask[centre] | mask[centre + 1] | mask[centre + 2]) == 0;
                if (!drawn || !opaque)
                    Fail("icon 101 of %s at %dx%d: the centre pixel is %s and %s", a[0], size, size,
                         drawn ? "drawn" : "black", opaque ? "opaque" : "masked");
                printf("icon 101 at %dx%d: %ldx%ld, %d bits\n", size, size, bitmap.bmWidth, bitmap.bmHeight,
                       bitmap.bmBitsPixel);
                DeleteObject(info.hbmColor);
                DeleteObject(info.hbmMask);
                DestroyIcon(icon);
            }
            FreeLibrary(module);
        } else if (!strcmp(step, "free-space")) {  // ROOT: prints what the installer will see
            DWORD spc, bps, freeClusters, clusters;
            if (!GetDiskFreeSpaceA(a[0], &spc, &bps, &freeClusters, &clusters))
                Fail("no free space figures for %s", a[0]);
            printf("%lu %lu %lu\n", bps, spc, freeClusters);
        } else if (!strcmp(step, "acp")) {  // CODE-PAGE: the system's ANSI code page is this one
            Note("ANSI code page %u", GetACP());
            if (GetACP() != strtoul(a[0], 0, 10))
                Fail("Wine runs with the ANSI code page %u, not %s: its locale is not the one asked for",
                     GetACP(), a[0]);
        } else if (!strcmp(step, "screenshot")) {  // PATH.bmp [dialog]: the whole screen, for a person
            RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
            if (a[1] && !strcmp(a[1], "dialog"))  // or the current dialog alone
                GetWindowRect(dialog, &area);
            Capture capture = CaptureScreen(area.left, area.top, area.right - area.left, area.bottom - area.top);
            SaveCapture(capture, a[0]);
            free(capture.pixels);
        } else {
            Fail("unknown step");
        }
    }
    return 0;
}

int main()
{
    // The installer's coordinates and pixels as they are: Windows shows a DPI-unaware
    // program every other program's windows scaled to 96 DPI (Wine 8 scales none).
    SetProcessDPIAware();
    setvbuf(stdout, 0, _IONBF, 0);
    CoInitialize(0);
    // The C runtime's argv is in the ANSI code page: the arguments are taken from the
    // wide command line instead, as UTF-8.
    int argc = 0;
    WCHAR** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!wide)
        return 2;
    std::vector<std::string> texts(argc);
    std::vector<char*> argv(argc + 1);
    for (int i = 0; i < argc; i++) {
        texts[i] = Utf8(wide[i]);
        argv[i] = &texts[i][0];
    }
    int result = Run(argc, argv.data());
    if (subject.hProcess && SubjectRunning()) {
        stepName = "end";
        Fail("the installer is still running at the end of the steps");
    }
    return result;
}
