// The install log's name, which the installer, the uninstaller and the packer share. A
// file of its own: the installer links it without the reader's code and tables.
#include "install_log.h"

#include "../archive/text.h"

void InstallLogName(const char* program, char* destination)
{
    CopyText(destination, program, TEXT_SIZE);
    // The extension is what follows the last dot of the last name (none: ".log" appended).
    char* dot = 0;
    for (char* p = destination; *p; p++) {
        if (*p == '.')
            dot = p;
        else if (*p == '\\')
            dot = 0;
    }
    if (dot)
        *dot = 0;
    if (TextLength(destination) + 4 >= TEXT_SIZE)
        destination[TEXT_SIZE - 5] = 0;
    AppendText(destination, ".log", TEXT_SIZE);
}
