// Locating the archive and reading its fixed parts at start-up.
#ifndef QUILL_ARCHIVE_ARCHIVE_H
#define QUILL_ARCHIVE_ARCHIVE_H

#include "format.h"
#include "platform.h"

// Locates the archive (appended to the program file, else disk1.pak beside it, else asks
// the user), reads the header and the string block and derives the default install
// directory. Fills the install context. Returns 1 on success; on failure the user has
// been told (or cancelled) and 0 is returned.
int OpenArchive();

// Opens the named file as volume 1, without the installer's search: with embedded the
// archive starts at 0xE000 of it, else at its first byte (a disk1.pak of any size or
// name). Later volumes are looked for beside it. Results as OpenArchive's.
int OpenArchiveFile(const char* path, int embedded);

// The program file's size without an Authenticode signature: a signing tool appends the
// certificate table that the security entry of the PE data directories names, and the
// archive (or the program alone) ends where that table begins. fileSize when the program
// is unsigned, or the entry does not name a table that ends the file.
u32 ProgramImageEnd(FileHandle file, u32 fileSize);

// The n-th entry (from 1) of the NUL-ended string list at list; n <= 1 gives list itself.
// end points at the block's guard NUL: a list that runs out yields that empty text, so
// no lookup ever reads past the block.
const char* NthString(const char* list, const char* end, u32 n);

// The string block's guard NUL, one byte past its last byte; 0 before OpenArchive.
const char* StringBlockEnd();
// Entry n of the list starting offset bytes into the string block (an offset past the
// block gives the empty text).
const char* StringBlockEntry(u32 offset, u32 n);
// PlatArchiveText into a TEXT_SIZE buffer, the common case: one argument less at each use.
u32 ArchiveText(const char* stored, char* destination);
// The same entry as the core holds its texts (PlatArchiveText) in destination, TEXT_SIZE bytes.
char* StringBlockText(u32 offset, u32 n, char* destination);

// Derives the default install directory from string block entry 3. programFiles is the
// registry value ProgramFilesDir, or 0 when it could not be read. destination has
// TEXT_SIZE bytes.
void DefaultInstallDirectory(const char* entry, const char* programFiles, char* destination);

// Whether a string block is sound: nonempty, its last byte NUL, and the fixed entries,
// the messages and (with group items) the group list all present. The installer copes
// with an unsound block by showing empty texts; the tools use this to report it.
int StringBlockIsSound(const char* block, u32 size, const ArchiveHeader* header);

#endif
