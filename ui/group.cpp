// The program group, created through a DDE conversation with the shell's program manager
// once extraction has finished. Until it is built, no group is created.
#include "ui.h"

void StartGroupConversation(HWND)
{
}

void ContinueGroupConversation(HWND, WPARAM, LPARAM)
{
}

int GroupConversationRunning()
{
    return 0;
}
