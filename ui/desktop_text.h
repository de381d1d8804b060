// Rules of the shortcut group and of high-DPI drawing that need no window: free of
// windows.h, so that the native tests compile the same file as the installer.
#ifndef QUILL_UI_DESKTOP_TEXT_H
#define QUILL_UI_DESKTOP_TEXT_H

#include "../archive/format.h"

// Replaces in place what a file name cannot hold (\ / : * ? " < > | and control
// characters) with '_', so that a group name or an item title names one file.
void SanitiseFileName(char* name);

// Splits an item's joined text into the shortcut's target and arguments (each
// TEXT_SIZE bytes): a quoted first part is the target; otherwise the whole text when
// exists() says it names a file, else the longest part up to a blank that does, the
// rest (leading blanks dropped) being the arguments. When no part names a file the
// whole text is the target, as the program manager would have been sent it.
void SplitItemText(const char* text, char* target, char* arguments, int (*exists)(const char* path));

// The folder that holds path (TEXT_SIZE bytes): up to its last backslash, a root such as
// C:\ keeping its own. Empty when path has no backslash.
void ParentFolder(char* folder, const char* path);

// A length given for a 96-DPI screen at dpi, rounded to the nearest pixel.
int ScaleForDpi(int value, u32 dpi);

#endif
