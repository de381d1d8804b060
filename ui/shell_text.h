// Text rules of the install dialog, the folder browser and the program-group conversation
// that need no window: the install path, path joining, list entry texts and the group
// command string. Free of windows.h, so that
// the native tests compile the same file as the installer.
#ifndef QUILL_UI_SHELL_TEXT_H
#define QUILL_UI_SHELL_TEXT_H

#include "../archive/format.h"

// Turns the install dialog's text into an absolute drive path in installDir (TEXT_SIZE
// bytes, UTF-8). current and currentLength are the current directory in UTF-8 and the
// length in characters the system returned for it: 0 or more than 255 means current is no
// usable path, and a relative text is then refused rather than joined with whatever the
// buffer held.
// Returns 0, or MSG_CANT_OPEN_DIRECTORY for network paths, drive-relative texts such as
// C:Tools, relative texts without a current directory, and joined paths over 255
// characters; installDir then holds the text (or the joined path, cut) for the message.
int InstallPathFromText(char* installDir, const char* text, const char* current,
                        u32 currentLength);

// Appends name to path (capacity bytes) with one backslash between them, none after an
// empty path or a path that ends with one (a root such as C:\). Returns 0 when the
// result had to be cut to fit.
int AppendPathPart(char* path, u32 capacity, const char* name);

// A folder list entry: the depth as three digits, then the name ("002Tools"). The depth
// keeps the sorted list in path order and is never shown. The name cut to fit (capacity:
// 4 bytes at least).
void FolderEntryText(char* entry, u32 capacity, u32 depth, const char* name);
// The depth of an entry (its first three characters, decimal).
u32 FolderEntryDepth(const char* entry);

// A drive list entry: the root with its backslash turned into a space, then the suffix
// (volume label or network resource; may be empty): "c: system". Cut to fit.
void DriveEntryText(char* entry, u32 capacity, const char* root, const char* suffix);
// Nonzero when both texts start with the same two characters, case-blind (the drive "c:").
int SameDrive(const char* a, const char* b);

// The long path of a group item: an item path that begins with a backslash is relative to
// the install directory (joined without doubling the root's backslash), any other text is
// taken as it is. Returns 0 when the result does not fit in capacity bytes.
int JoinItemPath(char* out, u32 capacity, const char* installDir, const char* itemPath);

// The group commands, exactly as the program manager reads them.
#define GROUP_CREATE_FORMAT "[CreateGroup(%s)][ShowGroup(%s, 1)]"
#define GROUP_ADD_ITEM_FORMAT "[AddItem(%s,%s)]"
// Writes format at out + length with its first %s replaced by first and its second by
// second, and returns the new length. Only the characters before out + capacity are
// written, so with capacity 0 it only counts: the caller sizes the block on a first pass
// and fills it on a second. No terminator is written.
u32 PutCommand(char* out, u32 capacity, u32 length, const char* format, const char* first,
               const char* second);

// The free space in thousands of bytes, as the install dialog compares it with the need:
// bytesPerSector * sectorsPerCluster / 10 * (freeClusters / 100), in 64 bits so that a large
// disk does not wrap into a small figure.
u64 FreeThousands(u32 bytesPerSector, u32 sectorsPerCluster, u32 freeClusters);

#endif
