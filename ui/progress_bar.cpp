// The progress bar control "Diagr": a two-tone bar with the percentage across its middle,
// each digit drawn in the colour of the part it lies over.
#include "ui.h"

#include "desktop_text.h"

#include "../archive/commands.h"
#include "../archive/held.h"
#include "../archive/platform.h"
#include "../archive/text.h"

struct BarState {
    u32 barColor;        // a COLORREF: the filled part; the text over the rest
    u32 backColor;       // a COLORREF: the rest; the text over the filled part
    u32 lower;
    u32 upper;
    float scale;         // percent per unit, 100 / (upper - lower); 0 for an empty range
    u32 position;        // between lower and upper after every BAR_SETPOS
    // What the bar last painted (the test driver reads the fields above, in this order).
    u32 paintedPercent;
    int paintedFilled;
};

// The picture's two figures: the percentage shown and the filled width in pixels of a bar
// WIDTH wide. The paint and the change check both take them from here.
struct BarPicture {
    u32 percent;
    int filled;
};

__attribute__((noinline)) static void Rescale(BarState* bar)
{
    u32 width = bar->upper - bar->lower;
    // An empty range (an archive of no bytes) has no finite scale: such a bar reads 0%.
    bar->scale = width ? (float)(100.0 / (double)width) : 0.0f;
}

// The products are rounded to double at every step (the volatile stores), as the bar's
// figures are defined; the x87 would otherwise keep them in extended precision and a
// width just below a whole number could come out one pixel wider.
__attribute__((noinline)) static BarPicture Picture(const BarState* bar, u32 position, int width)
{
    BarPicture picture;
    u32 done = position - bar->lower;
    volatile double value = (double)done * bar->scale;
    value = value + 0.5f;
    picture.percent = (u32)(int)value;
    value = (double)width * done;
    value = value * bar->scale;
    value = value * 0.01f;
    picture.filled = (int)value;
    return picture;
}

// The picture on the screen, for BarShows: the bar's figures and width at its last paint.
// valid is 0 while the screen may show something else (before the first paint, after a
// resize, a new range or colour), and when the bar has gone.
static struct {
    BarState bar;
    int width;
    volatile LONG valid;
} shown;

static void MarkStale()
{
    shown.valid = 0;
}

static void PaintBar(HWND window, BarState* bar)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    BarPicture picture = Picture(bar, bar->position, client.right);
    char text[16];
    text[0] = 0;
    AppendNumber(text, picture.percent, sizeof(text));
    int filled = picture.filled;

    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, TA_CENTER | TA_BASELINE);
    // Halves of sizes that are never negative: a shift, not a signed division.
    int x = client.right >> 1, y = (client.bottom + ScaleForDpi(10, WindowDpi(window))) >> 1;
    // The sign put behind the digits: ExtTextOutA takes a count, not a terminator.
    int length = (int)TextLength(text);
    text[length++] = '%';
    // The filled part, then the rest: each with the text in the other one's colour, the
    // two colours read as a pair from the bar.
    const u32* colors = &bar->barColor;
    static_assert(offsetof(BarState, backColor) == offsetof(BarState, barColor) + 4, "the colours as a pair");
    // The client rectangle (left and top 0) cut to each part in turn.
    int width = client.right;
    client.right = filled;
#pragma GCC unroll 1
    for (int i = 0; i < 2; i++) {
        SetTextColor(dc, colors[!i]);
        SetBkColor(dc, colors[i]);
        ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &client, text, length, 0);
        client.left = filled;
        client.right = width;
    }
    EndPaint(window, &paint);
    bar->paintedPercent = picture.percent;
    bar->paintedFilled = filled;
    auto& s = *Held(&shown);
    s.bar = *bar;
    s.width = width;
    s.valid = 1;
}

int BarShows(u32 position)
{
    // The end is always told: the bar then holds the whole range, as the install did.
    auto& s = *Held(&shown);
    BarPicture picture = Picture(&s.bar, position, s.width);
    return s.valid && position < s.bar.upper && picture.percent == s.bar.paintedPercent &&
           picture.filled == s.bar.paintedFilled;
}

static void BarCommand(HWND window, BarState* bar, WPARAM command, u32 value)
{
    if (command == BAR_SETPOS) {
        bar->position = value < bar->lower ? bar->lower : value > bar->upper ? bar->upper : value;
        // A report that changes neither figure would paint the pixels already shown. The
        // paint waits for this thread's next idle moment, not the worker.
        if (!BarShows(bar->position))
            InvalidateRect(window, 0, TRUE);
        return;
    }
    // The field of each setting command, BAR_SETMAX to BAR_SETBACKCOLOR in their order: a
    // table of four bytes, where a switch takes a jump table of five words.
    static const u8 settingFields[] = {offsetof(BarState, upper), offsetof(BarState, lower),
                                       offsetof(BarState, barColor), offsetof(BarState, backColor)};
    static_assert(BAR_SETBACKCOLOR - BAR_SETMAX + 1 == sizeof(settingFields), "a field per command");
    u32 setting = (u32)command - BAR_SETMAX;
    if (setting < sizeof(settingFields))
        *(u32*)((char*)bar + settingFields[setting]) = value;
    // After a colour the same scale comes out again: one call serves every command.
    Rescale(bar);
    // As before, these show at the next report or paint; that report then paints whatever
    // its figures.
    MarkStale();
}

static LRESULT CALLBACK BarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    BarState* bar = (BarState*)GetWindowLongW(window, GWL_USERDATA);
    switch (message) {
    case WM_CREATE:
        bar = (BarState*)PlatAlloc(sizeof(BarState));  // zero-filled
        if (!bar)
            return -1;  // the dialog holding the bar then fails to open, and says so
        bar->barColor = RGB(0, 0, 255);
        bar->backColor = RGB(255, 255, 255);
        bar->upper = 100;
        bar->scale = 1.0f;
        // Nothing painted yet: the picture is stale from the start and from the last bar's end.
        SetWindowLongW(window, GWL_USERDATA, (LONG)(LONG_PTR)bar);
        return 0;
    case WM_DESTROY:
        MarkStale();
        SetWindowLongW(window, GWL_USERDATA, 0);
        PlatFree(bar);  // 0 after a failed create: the heap frees nothing
        return 0;
    case WM_DPICHANGED_AFTERPARENT:  // the dialog has laid the bar out at the new DPI
        InvalidateRect(window, 0, TRUE);
        return 0;
    case WM_PAINT:
        if (!bar)
            break;
        PaintBar(window, bar);
        return 0;
    case WM_SIZE:  // the class repaints a resized bar; a report before then paints as well
        MarkStale();
        break;
    case WM_COMMAND:
        if (bar)
            BarCommand(window, bar, wParam, (u32)lParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterBarClass(HINSTANCE instance)
{
    WNDCLASSW barClass = {};
    barClass.style = CS_HREDRAW | CS_VREDRAW;
    barClass.lpfnWndProc = BarProc;
    barClass.hInstance = instance;
    barClass.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    barClass.lpszClassName = L"Diagr";
    RegisterClassW(&barClass);
}
