// The folder browser behind the install-directory dialog's Browse button. Until it is
// built, Browse changes nothing: the user types the directory.
#include "ui.h"

int BrowseForFolder(BrowseRequest*)
{
    return 0;
}

void LoadBrowserBitmaps()
{
}

void FreeBrowserBitmaps()
{
}
