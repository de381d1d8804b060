// The native (POSIX) host of the core: runs the installer's own worker on Linux for the
// tools and the tests. It answers the prompts the worker would show, records what the
// worker shows and sends, and can confine extraction to one directory. Native only.
#ifndef QUILL_HOST_NATIVE_HOST_H
#define QUILL_HOST_NATIVE_HOST_H

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../archive/format.h"
#include "../archive/platform.h"

struct HostEvent {
    enum Kind {
        CONTROL_TEXT,   // id: control, text
        BAR,            // id: command, value
        MESSAGE_BOX,    // text, caption, value: style
        OPEN_FILE,      // text: the dialog's initial file name, caption: the filter's description,
                        // value: 1 when a file was chosen
        ABORTED,        // ID_WORKER_ABORTED sent
        CREATE_GROUP,   // CMD_CREATE_GROUP posted
        START_PROCESS,  // text: command line, caption: the directory it would start in
        REFUSED,        // text: what the confinement refused and why
        WARNED,         // text: what the confinement would refuse, let pass (warnOnly)
        KEPT,           // text: an existing file left alone (its payload was discarded)
        ATTRIBUTES      // text: name, value: attributes as the archive gave them
    };
    Kind kind;
    u32 id = 0;
    u32 value = 0;
    std::string text;
    std::string caption;
};

struct NativeHost {
    // What PlatProgramPath reports, as a native path ("" gives no program path).
    std::string programPath;
    // The registry value ProgramFilesDir, or none.
    std::optional<std::string> programFilesDir;

    // Answers. Defaults: OK for plain boxes, Cancel for OK/Cancel, No for Yes/No; the
    // open-file dialog is cancelled; a process "starts" (it is recorded, not run).
    std::function<int(const std::string& text, const std::string& caption, u32 style)> messageBox;
    // Receives the initial file name and returns the chosen native path, or none.
    std::function<std::optional<std::string>(const std::string& initialName)> openFile;
    std::function<bool(const std::string& commandLine)> startProcess;
    // Called before the worker reads each record, the volume input at its first byte.
    std::function<void()> recordStart;
    // Called after each record the worker handled (size: a file's uncompressedSize), with
    // the worker's state as it stands: the entry name, DecodedCount(), the volume input.
    std::function<void(const RecordHeader& record, u32 size)> recordDone;
    // How the platform holds a text or name the archive stores (PlatArchiveText): the
    // installer's UTF-8 from the archive's code page, for a test; empty: the bytes as they stand.
    std::function<std::string(const char* stored)> archiveText;
    // Called at each of the worker's safe points; true ends the worker as a break.
    std::function<bool()> safePoint;

    // Output. discardOutput decodes and checks everything but writes no file. With a
    // confinement root, names with separators, drives, "." or "..", and up records above
    // the root, are refused; existing files are kept unless overwrite is set.
    bool discardOutput = false;
    // With discardOutput: receives the bytes the worker writes, as it writes them.
    std::function<void(const u8* data, u32 size)> output;
    std::string confineRoot;  // native absolute path; "" means no confinement
    // With discardOutput and a confinement root: what would be refused is a WARNED event
    // and the walk goes on, so that every such record is reported (list, test).
    bool warnOnly = false;
    bool overwrite = true;
    // With overwrite: an existing read-only file is replaced too (the installer, like
    // Windows, refuses it).
    bool replaceReadOnly = false;

    // The install log: with installLog the worker writes it as the installer does, the
    // head naming installLogDirectory and installLogCreatedLevels. Off for the tools.
    bool installLog = false;
    std::string installLogDirectory;
    u32 installLogCreatedLevels = 0;

    // Volume files by number (native paths), for a reader that knows its volumes: when
    // set, only these files are opened for reading (so a stray diskN.pak beside them is
    // never taken), and the open-file dialog for volume N chooses volumes[N - 1].
    std::vector<std::string> volumes;

    // Injected faults, for the tests; deterministic.
    u64 writeLimit = ~0ull;  // bytes all writes together may take: the write past it is short
    u32 failReadAt = 0;      // the n-th read (counted in reads, from 1) fails; 0: none
    std::function<bool(const std::string& name)> failCreate;  // creating this output fails
    std::function<bool(const std::string& name)> failEnter;   // entering this record's folder fails
    u32 reads = 0;
    u64 written = 0;
    // Bookkeeping of handles and heap blocks: what is held now, and releases of anything
    // not held (a double close or free) counted instead of done.
    std::set<FileHandle> openFiles;
    std::set<void*> liveBlocks;
    u32 badReleases = 0;

    // Records. Bar positions are many: recordBar off keeps only the last one.
    bool recordBar = true;
    std::vector<HostEvent> events;
    u32 lastBarPosition = 0;
    u32 barPositions = 0;     // number of BAR_SETPOS commands
};

// The process-wide host the platform functions consult.
NativeHost& Host();
// Fresh host state and a fresh install context (as before OpenArchive).
void ResetHost();

// Runs ExtractionWorker on the calling thread; returns its exit code (0, a message id, or
// WORKER_BROKEN). The current directory is where extraction happens; it is restored after.
u32 RunWorker();

// Why confinement refuses a record's name (a separator, a drive, a dot name, a device, a
// character or an ending Windows would not keep), or 0 when it is one plain name.
const char* UnsafeRecordName(const char* name);

// Native path <-> the Windows form the core works with.
std::string ToWindowsPath(const std::string& native);
std::string ToNativePath(const char* windows);

#endif
