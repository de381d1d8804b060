// The seam between the portable core and the platform. The core (archive/, extract/)
// reaches files, directories, dialogs and threads only through these functions.
// ui/platform_win32.cpp implements them for the installer, host/platform_posix.cpp
// for the native tools and tests. Every function runs on the calling thread.
#ifndef QUILL_ARCHIVE_PLATFORM_H
#define QUILL_ARCHIVE_PLATFORM_H

#include "format.h"

typedef void* FileHandle;    // 0 means no file
typedef void* WindowHandle;  // 0 means no window (no owner)

// Message box styles, with the values the Win32 MessageBoxA flags have.
enum BoxStyle {
    BOX_OK_CANCEL = 0x01,
    BOX_YES_NO = 0x04,
    BOX_ICON_ERROR = 0x10,
    BOX_ICON_QUESTION = 0x20,
    BOX_ICON_INFORMATION = 0x40
};
// Answers, with the values of IDOK, IDCANCEL, IDYES and IDNO.
enum BoxAnswer { ANSWER_OK = 1, ANSWER_CANCEL = 2, ANSWER_YES = 6, ANSWER_NO = 7 };

// Memory from the process heap, zero-filled; 0 on failure.
void* PlatAlloc(u32 size);
void PlatFree(void* block);

// Files. Paths use backslashes as on Windows; the POSIX side translates them.
FileHandle PlatOpenRead(const char* path);          // existing files only, shares read and write
u32 PlatFileSize(FileHandle file);                  // sizes past 4 GiB - 1 read as 0xFFFFFFFF
int PlatSeek(FileHandle file, u32 offset);          // from the start; nonzero on success
u32 PlatRead(FileHandle file, void* buffer, u32 count, int* ok);  // bytes read; *ok 0 on failure
FileHandle PlatCreateOutput(const char* name);      // write, no sharing, always create
u32 PlatWrite(FileHandle file, const void* buffer, u32 count);    // bytes written
void PlatSetFileTime(FileHandle file, u64 fileTime);  // creation, access and write time
void PlatClose(FileHandle file);
void PlatSetAttributes(const char* name, u32 attributes);

// Directories and the process's current directory (shared by all threads).
int PlatCreateDirectory(const char* name);  // nonzero when it made it; an existing one is no error
int PlatSetCurrentDirectory(const char* path);           // nonzero on success
u32 PlatGetCurrentDirectory(char* buffer, u32 capacity); // length, 0 on failure
int PlatFullPath(const char* name, char* buffer);        // TEXT_SIZE bytes; nonzero on success

// Start-up facts.
int PlatProgramPath(char* buffer);       // TEXT_SIZE bytes: the program file's full path
int PlatProgramFilesDir(char* buffer);   // TEXT_SIZE bytes: the registry value, nonzero if read

// Dialogs, shown by the calling thread.
int PlatMessageBox(WindowHandle owner, const char* text, const char* caption, u32 style);
// The open-file dialog: filter is a list of description/pattern pairs, each part ended by
// a '|' (the platform turns them into its own separators),
// path (TEXT_SIZE bytes) holds the initial file name and receives the full path chosen.
// Nonzero when the user chose a file.
int PlatOpenFileDialog(WindowHandle owner, const char* filter, char* path, const char* defaultExtension);

// The progress dialog, addressed through context.progressDialog; synchronous.
void PlatSetControlText(u32 controlId, const char* text);
void PlatBarCommand(u32 command, u32 value);
void PlatNotifyWorkerAborted();  // ID_WORKER_ABORTED to the progress dialog
void PlatPostCreateGroup();      // CMD_CREATE_GROUP to mainWindow; does not wait

// The post-install command, started in the current directory with inherited handles and
// not waited for. The command line may be changed in place. Nonzero on success.
int PlatStartProcess(char* commandLine);

// The record hooks. PlatRecordStart: the worker is about to read a record, the volume
// input standing at its first byte. PlatRecordDone: it has handled the record (size: a
// file's uncompressedSize), the volume input still standing behind it. The native tools
// list and check archives through them; the installer logs the files written.
#ifdef _WIN32
inline void PlatRecordStart() {}
#else
void PlatRecordStart();
#endif
void PlatRecordDone(const RecordHeader* record, u32 size);

// The install log (extract/install_log.h) and the uninstall's key. PlatInstallStarting: the
// worker is about to read the first record; when the archive asks for the uninstall, the
// platform opens the log with the facts only it knows and registers the product. 0, or a
// failure's message id with its detail in detailText.
int PlatInstallStarting();

// A text or name as the archive stores it (its code page) into destination (capacity bytes,
// terminator included) in the form every other text and path of the core is held in: UTF-8
// in the installer, whatever the system's code page; the bytes as they stand natively,
// where the tools convert for themselves. Its length; 0 and an empty text when it does not fit.
u32 PlatArchiveText(const char* stored, char* destination, u32 capacity);

// Worker thread control.
// A safe point of the worker: no handle or heap call is half done. The platform may hold
// the worker here while the user answers the break question; nonzero means the break was
// confirmed and the worker must end itself with WORKER_BROKEN.
int PlatWorkerSafePoint();
// Ends the worker thread with the exit code; never returns.
#if defined(__GNUC__)
__attribute__((noreturn))
#endif
void PlatExitWorker(u32 exitCode);

#endif
