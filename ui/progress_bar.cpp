// The progress bar control "Diagr": a two-tone bar with the percentage across its middle,
// each digit drawn in the colour of the part it lies over.
#include "ui.h"

#include "desktop_text.h"

#include "../archive/commands.h"
#include "../archive/text.h"

struct BarState {
    COLORREF barColor;   // the filled part; the text over the rest
    COLORREF backColor;  // the rest; the text over the filled part
    u32 lower;
    u32 upper;
    float scale;         // percent per unit, 100 / (upper - lower); 0 for an empty range
    u32 position;        // between lower and upper after every BAR_SETPOS
};

static void Rescale(BarState* bar)
{
    u32 width = bar->upper - bar->lower;
    // An empty range (an archive of no bytes) has no finite scale: such a bar reads 0%.
    bar->scale = width ? (float)(100.0 / (double)width) : 0.0f;
}

// The products are rounded to double at every step (the volatile stores), as the bar's
// figures are defined; the x87 would otherwise keep them in extended precision and a
// width just below a whole number could come out one pixel wider.
static void PaintBar(HWND window, const BarState* bar)
{
    u32 done = bar->position - bar->lower;
    volatile double value = (double)done * bar->scale;
    value = value + 0.5f;
    char text[16] = "";
    AppendNumber(text, (u32)(int)value, sizeof(text));
    AppendText(text, "%", sizeof(text));

    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    value = (double)client.right * done;
    value = value * bar->scale;
    value = value * 0.01f;
    int filled = (int)value;

    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, TA_CENTER | TA_BASELINE);
    int x = client.right / 2, y = (client.bottom + ScaleForDpi(10, WindowDpi(window))) / 2;
    int length = (int)TextLength(text);
    RECT part = {0, 0, filled, client.bottom};
    SetTextColor(dc, bar->backColor);
    SetBkColor(dc, bar->barColor);
    ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &part, text, length, 0);
    part.left = filled;
    part.right = client.right;
    SetTextColor(dc, bar->barColor);
    SetBkColor(dc, bar->backColor);
    ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &part, text, length, 0);
    EndPaint(window, &paint);
}

static void BarCommand(HWND window, BarState* bar, WPARAM command, u32 value)
{
    switch (command) {
    case BAR_SETPOS:
        bar->position = value < bar->lower ? bar->lower : value > bar->upper ? bar->upper : value;
        InvalidateRect(window, 0, TRUE);
        UpdateWindow(window);
        break;
    case BAR_SETMAX:
        bar->upper = value;
        Rescale(bar);
        break;
    case BAR_SETMIN:
        bar->lower = value;
        Rescale(bar);
        break;
    case BAR_SETBARCOLOR:
        bar->barColor = value;
        break;
    case BAR_SETBACKCOLOR:
        bar->backColor = value;
        break;
    }
}

static LRESULT CALLBACK BarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    BarState* bar = (BarState*)GetWindowLongA(window, GWL_USERDATA);
    switch (message) {
    case WM_CREATE:
        bar = (BarState*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BarState));
        if (!bar)
            return -1;  // the dialog holding the bar then fails to open, and says so
        bar->barColor = RGB(0, 0, 255);
        bar->backColor = RGB(255, 255, 255);
        bar->upper = 100;
        bar->scale = 1.0f;
        SetWindowLongA(window, GWL_USERDATA, (LONG)(LONG_PTR)bar);
        return 0;
    case WM_DESTROY:
        SetWindowLongA(window, GWL_USERDATA, 0);
        if (bar)
            HeapFree(GetProcessHeap(), 0, bar);
        return 0;
    case WM_DPICHANGED_AFTERPARENT:  // the dialog has laid the bar out at the new DPI
        InvalidateRect(window, 0, TRUE);
        return 0;
    case WM_PAINT:
        if (!bar)
            break;
        PaintBar(window, bar);
        return 0;
    case WM_COMMAND:
        if (bar)
            BarCommand(window, bar, wParam, (u32)lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterBarClass(HINSTANCE instance)
{
    WNDCLASSA barClass = {};
    barClass.style = CS_HREDRAW | CS_VREDRAW;
    barClass.lpfnWndProc = BarProc;
    barClass.hInstance = instance;
    barClass.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    barClass.lpszClassName = "Diagr";
    RegisterClassA(&barClass);
}
