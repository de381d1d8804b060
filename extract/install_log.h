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
//
// The reader is strict, because what the log names is deleted. The text after the last LF
// is torn (the install ended inside its write) and ignored; every line before it ends in
// CRLF. The byte-order mark is read when there, not required. Texts are UTF-8 like the
// rest (the writer converts them from the archive's code page); text ids 200..299. The
// magic line must come first; every other line must be one of the tags above
// with fields in range; id, title, program, key, directory and created each come once,
// before the first entry. Paths must be what an install can have made: relative ones
// (program, folder, file) with no drive, root, "." or ".." part, no device name, no "/"
// or ":" and no part ending in a dot or a blank (Windows would strip those, so they could
// name another file); absolute ones (directory, shortcut, group-folder) a drive path
// "X:\..." or a network path "\\server\share\...", with the same rules for their parts
// and at least one part below the root; never the Windows folder or a path inside it.
// The key is "Software\Microsoft\Windows\CurrentVersion\Uninstall\" and the id.
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
// Pure, in install_log_read.cpp: the uninstaller links it without the writer's seam calls.
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
// writes the head and the carried entries. 0, or the failure's message id; either way the
// log's name is left in detailText. Without the extension's uninstall.id: does nothing, 0.
int InstallLogOpen(const InstallLogHead* head);
// Nonzero while a log is open.
int InstallLogActive();
// After the worker has handled a record of one of the four kinds (size: a file's
// uncompressedSize): the folder it created (created nonzero) or the file it wrote, with
// the path kept from the directory records; for the end record "complete". A line that
// cannot be written ends the worker with message 11.
void InstallLogRecord(const RecordHeader* record, u32 size, int created);
// Whether the earlier install's log lists the current record's file (context.entryName)
// in the current directory of the walk (an upgrade replaces such a file even when it is
// read-only).
int InstallLogListed();
// An entry of tag and text, from any thread (the shortcuts, the group). Nonzero when written.
int InstallLogEntry(const char* tag, const char* text);
// Closes the log and releases the earlier log's copy (program end).
void InstallLogClose();

// --- reader (the uninstaller; pure, no seam calls) ----------------------------------------

enum InstallLogKind {
    LOG_FOLDER = 1,
    LOG_FILE,
    LOG_SHORTCUT,
    LOG_GROUP_FOLDER,
    LOG_DDE_GROUP
};

enum {
    INSTALL_LOG_FIRST_TEXT = 200,   // ids of the uninstaller's texts
    INSTALL_LOG_TEXT_COUNT = 32,    // ids 200..231 are kept; 232..299 are read and ignored
    INSTALL_LOG_MAX_SIZE = 0x10000000  // a longer log is damage (the uninstaller reads it whole)
};

struct InstallLogItem {
    u8 kind;         // InstallLogKind
    u8 superseded;   // a later entry names the same path (InstallLogMarkRepeats)
    u32 line;        // its line number, from 1
    u32 size;        // LOG_FILE: the size the install gave it
    u64 writeTime;   // LOG_FILE: the write time (FILETIME)
    const char* path;  // NUL-ended inside the log's bytes; a name for LOG_DDE_GROUP
};

struct InstallLog {
    const char* id;
    const char* title;
    const char* program;
    const char* keyRoot;    // "HKLM" or "HKCU"
    const char* key;        // the whole key path below the root
    const char* directory;  // absolute
    u32 createdLevels;
    u32 complete;           // "complete" was seen
    const char* texts[INSTALL_LOG_TEXT_COUNT];  // 0 when absent
    InstallLogItem* entries;
    u32 entryCount;
};

// Why a log is refused; 0 when it is sound.
enum InstallLogProblem {
    LOG_SOUND = 0,
    LOG_NO_MAGIC,           // empty, or the first line is not INSTALL_LOG_MAGIC
    LOG_UNKNOWN_TAG,
    LOG_MALFORMED,          // no CRLF, missing or extra fields, a head entry twice or late
    LOG_OUT_OF_RANGE,       // a number too large or a text id outside 200..299
    LOG_INCOMPLETE_HEAD,    // id, title, program, key, directory or created missing
    LOG_BAD_RELATIVE_PATH,  // "." or "..", a device name, a drive or root, "/" or ":"
    LOG_BAD_ABSOLUTE_PATH,  // not absolute, a bare drive or root, a network root, bad parts
    LOG_WINDOWS_FOLDER,     // the Windows folder or inside it
    LOG_BAD_KEY,            // not the Uninstall key of the log's id, or not HKLM/HKCU
    LOG_BAD_SHORTCUT,       // a shortcut that is not a .lnk file
    LOG_BAD_GROUP,          // a dde-group that is not one plain name
    LOG_TOO_LARGE
};

struct InstallLogResult {
    int problem;  // InstallLogProblem
    u32 line;     // where, from 1; 0 for the whole log
};

// An upper bound of the entries of a log of size bytes, for the entries array.
u32 InstallLogEntryBound(const char* bytes, u32 size);

// Parses and checks the log in place (bytes is changed: fields are NUL-ended where they
// lie, so they live as long as the buffer). entries has room for capacity entries
// (InstallLogEntryBound). windowsFolder is the system's Windows folder, absolute, UTF-8.
// On a problem log holds nothing to act on.
InstallLogResult ReadInstallLog(char* bytes, u32 size, InstallLogItem* entries, u32 capacity,
                                const char* windowsFolder, InstallLog* log);

// Marks every entry that a later one of the same kind and path (ASCII case folded, as
// Windows compares names) supersedes. scratch holds 2 * entryCount u32 values.
void InstallLogMarkRepeats(InstallLog* log, u32* scratch);

// The log's text id (200..231), or 0.
const char* InstallLogText(const InstallLog* log, u32 id);

// A problem in English words, for the /LOG= line.
const char* InstallLogProblemText(int problem);

// Path rules, also used on their own: nonzero when sound.
int InstallLogRelativePathSound(const char* path);
int InstallLogAbsolutePathSound(const char* path);
// A program manager group's name the log may carry: one sound name, none of the characters
// that end a DDE command. The installer logs a group only when this holds, since the
// reader refuses a whole log that names another.
int InstallLogGroupNameSound(const char* name);
// Compares the first n bytes (n == 0: whole texts) ASCII case folded, as Windows compares
// names; nonzero when equal. The writer's comparisons too.
int InstallLogSameFolded(const char* a, const char* b, u32 n);
// Nonzero when path is folder or lies inside it (ASCII case folded, by whole parts).
int InstallLogPathInside(const char* path, const char* folder);

#endif
