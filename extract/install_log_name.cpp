// The install log's name, which the installer, the uninstaller and the packer share. A
// file of its own: the installer links it without the reader's code and tables.
#include "install_log.h"

#include "../archive/text.h"

void InstallLogName(const char* program, char* destination)
{
    CopyText(destination, program);
    // The extension is what follows the last dot of the last name (none: ".log" appended).
    char* dot = 0;
    char* p = destination;
    for (; *p; p++) {
        if (*p == '.')
            dot = p;
        else if (*p == '\\')
            dot = 0;
    }
    char* end = dot ? dot : p;
    if (end > destination + TEXT_SIZE - 5)
        end = destination + TEXT_SIZE - 5;  // cut so that ".log" fits
    CopyText(end, ".log", 5);
}
