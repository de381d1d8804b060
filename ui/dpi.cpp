// The DPI a window is drawn at. The manifest declares the program DPI-aware, so the
// system no longer stretches its windows: what is given in pixels for a 96-DPI screen
// (the title font, the browser's pictures, the bar's baseline) is scaled by this.
#include "ui.h"

typedef UINT(WINAPI* DpiForWindow)(HWND);

u32 WindowDpi(HWND window)
{
    // Per window from Windows 10 1607 on; found at run time, so that the program still
    // starts on older systems, where one DPI serves every window.
    // Looked up at each call: a function-local static would need the C++ runtime's guard.
    DpiForWindow forWindow = (DpiForWindow)(void*)GetProcAddress(GetModuleHandleA("user32"), "GetDpiForWindow");
    UINT dpi = forWindow ? forWindow(window) : 0;
    if (!dpi) {
        // Any screen context gives the one DPI: a memory one, whose calls the browser's
        // pictures need anyway.
        HDC dc = CreateCompatibleDC(0);
        dpi = (UINT)GetDeviceCaps(dc, LOGPIXELSY);
        DeleteDC(dc);
    }
    return dpi ? dpi : 96;
}
