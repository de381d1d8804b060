/* The program the example installs. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    MessageBoxA(0, "Hello from an installed program.", "Hello", MB_OK | MB_ICONINFORMATION);
    return 0;
}
