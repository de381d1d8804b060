// The uninstaller: removes what its install log (beside it) lists, the Apps & features
// key, the log and itself. Wide Win32 calls throughout; the log and every text in it are
// UTF-8, turned into UTF-16 at the call. Plain process-wide state, fixed buffers, no C
// runtime start-up, as the installer. Buffers past a few hundred bytes are static, not
// locals: one thread, nothing re-entered but the kept walk, whose own state stays local.
#ifndef QUILL_UNINSTALL_UNINSTALL_H
#define QUILL_UNINSTALL_UNINSTALL_H

#include <windows.h>

#include "../extract/install_log.h"
#include "../ui/command_line.h"

enum {
    // A path of the log joined to the directory, with the \\?\UNC\ prefix, in UTF-16.
    WIDE_PATH_SIZE = 2 * INSTALL_LOG_PATH_SIZE + 16,
    KEPT_SHOWN = 15,  // kept paths named in the end message; the /LOG= file gets all
    MESSAGE_SIZE = 4096
};

// Texts of the log (install_log.h), with an English fallback each.
enum UninstallText {
    TEXT_CAPTION = 200,
    TEXT_QUESTION = 201,
    TEXT_REMOVED = 202,
    TEXT_REMOVED_KEPT = 203,
    TEXT_LOG_DAMAGED = 204,
    TEXT_ALREADY_REMOVED = 205,
    TEXT_CANNOT_REMOVE = 206
};

struct Uninstall {
    CommandLine commandLine;
    InstallLog log;        // sound once read; log.title 0 before
    WCHAR self[WIDE_PATH_SIZE];     // this program, as the system started it
    WCHAR folder[WIDE_PATH_SIZE];   // its folder, no backslash at the end
    WCHAR logPath[WIDE_PATH_SIZE];  // the install log beside it
    HANDLE logHandle;      // held from reading to deleting: a second start waits on it
    u32 keptCount;         // paths left in the install directory
    char kept[MESSAGE_SIZE];        // the first KEPT_SHOWN of them, one a line
    u32 failures;          // removals that failed; the key, the log and the program stay
    char failed[TEXT_SIZE];         // the first path that could not be removed
};
extern Uninstall state;

// Conversions; the result is always terminated (cut to fit).
void ToWide(const char* text, WCHAR* out, int capacity);
void ToUtf8(const WCHAR* text, char* out, int capacity);
// The \\?\ form of directory joined with relative (0: the directory alone), so that long
// paths work and nothing in them is reinterpreted.
void PrefixedPath(const char* directory, const char* relative, WCHAR* out);
// The same for a wide path that may already have the prefix.
void PrefixedWide(const WCHAR* path, WCHAR* out);

// The /LOG= file (main.cpp): "event: text" lines in UTF-8; nothing without /LOG=.
void LogLine(const char* event, const char* text);

// The removal (remove.cpp): files, folders, shortcuts, groups, then the key when nothing
// failed. Fills kept and failures.
void RemoveListed();
// Whether an Apps & features key (HKLM or HKCU, 32-bit view) names folder as its
// InstallLocation: the product is still registered although its log is gone.
int KeyNamesFolder(const WCHAR* folder);
// Deletes the install log through its held handle.
void DeleteInstallLog();

// Removing this program file (self_delete.cpp): a copy in the temporary folder, deleted
// by the system when it ends, waits for this process to end, then deletes the program
// and the levels of the directory the install made, when empty. Nonzero when started.
int StartEraser(u32 createdLevels);
// The copy's side, when the command line is one StartEraser wrote; returns its exit code
// in *code and nonzero then.
int RunEraserIfAsked(const WCHAR* line, UINT* code);

// Two paths name the same folder (long forms compared, trailing backslashes ignored).
int SameFolder(const WCHAR* a, const WCHAR* b);

#endif
