// The install log: what an install created or replaced, written by the installer as it
// goes and read by the uninstaller, which reads no archive. Writer (install_log.cpp, the
// worker's side) and reader (install_log_read.cpp, pure, the uninstaller's side) keep to
// the one format drawn here.
//
// UTF-8 text, a byte-order mark first, CRLF line ends, one entry a line: a tag, one blank,
// then the fields, separated by one blank; the last field runs to the line's end, so that
// a path or a text may hold blanks. Paths use backslashes.
//
//   quillstead-install-log 1                      always the first line
//   id ExampleViewer                              the Apps & features key name
//   title Example Viewer                          DisplayName
//   program uninstall.exe                         the uninstaller, at the directory's top
//   key HKLM Software\Microsoft\...\Uninstall\ExampleViewer    (HKLM or HKCU)
//   directory C:\Program Files\Example\Viewer     the install directory, absolute
//   created 2                                     its last 2 levels were made by the install
//   text 201 Do you want to remove %s ...         the uninstaller's texts (ids from 200)
//   folder docs                                   a folder the install created, from the
//                                                 install directory
//   file 1234 01D9C1E2A3B4C5D6 docs\readme.txt    a file written: its size, its write time
//                                                 (FILETIME, 16 hex digits), its path from
//                                                 the install directory
//   shortcut C:\ProgramData\...\Viewer.lnk        a shortcut the install made, absolute
//   group-folder C:\ProgramData\...\Example       the shortcuts' folder, absolute
//   dde-group Example Viewer                      a group made through the program manager
//   complete                                      the install reached the end record
//
// The head (id to text) comes first, once. Entries follow in the order of the install; an
// upgrade's log carries the earlier log's entries first, so a path listed twice is read by
// its last entry. A log without "complete" is an install broken off or failed midway, and
// is removed like a whole one. Every line is written whole in one write.
#ifndef QUILL_EXTRACT_INSTALL_LOG_H
#define QUILL_EXTRACT_INSTALL_LOG_H

#include "../archive/format.h"

#define INSTALL_LOG_MAGIC "quillstead-install-log 1"
// Where Apps & features looks, under HKLM or HKCU; the uninstall id follows.
#define UNINSTALL_KEY_PATH "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"

enum {
    INSTALL_LOG_PATH_SIZE = 1024  // longest path from the install directory, terminator included
};

// The log's file name for an uninstaller of the given file name: its name with ".log"
// in place of its extension (uninstall.exe: uninstall.log). destination has TEXT_SIZE bytes.
void InstallLogName(const char* program, char* destination);

// --- writer (the worker's thread) ---------------------------------------------------------

// What the installer knows beside the archive, for the head.
struct InstallLogHead {
    const char* keyRoot;     // "HKLM" or "HKCU"
    const char* directory;   // the install directory, absolute
    u32 createdLevels;       // levels of it the install-directory step created
};

// When the archive asks for the uninstall: opens the log in the current directory (the
// install directory), reads an earlier log of the same id there to carry its entries,
// writes the head and the carried entries. 0, or the failure's message id (the log's
// name then in detailText). Without the extension's uninstall.id: does nothing, 0.
int InstallLogOpen(const InstallLogHead* head);
// Nonzero while a log is open.
int InstallLogActive();
// After the worker has handled a record (size: a file's uncompressedSize): the folder
// it created (created nonzero) or the file it wrote, with the path kept from the
// directory records. A line that cannot be written ends the worker with message 11.
void InstallLogRecord(const RecordHeader* record, u32 size, int created);
// Whether the earlier install's log lists the file name in the current directory of the
// walk (an upgrade replaces such a file even when it is read-only).
int InstallLogListed(const char* name);
// An entry of tag and text, from any thread (the shortcuts, the group). Nonzero when written.
int InstallLogEntry(const char* tag, const char* text);
// The end record was reached.
void InstallLogComplete();
// Closes the log and releases the earlier log's copy (program end).
void InstallLogClose();

#endif
