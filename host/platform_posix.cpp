// The native side of the platform seam: POSIX files and directories, and the host's
// answers and records in place of dialogs and windows.
#include "../archive/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "../archive/commands.h"
#include "../archive/context.h"
#include "native_host.h"
#include "../archive/text.h"
#include "../extract/install_log.h"
#include "../extract/worker.h"

namespace {

NativeHost host;
jmp_buf* workerExit = nullptr;
u32 workerExitCode = 0;
int depth = 0;  // directory records entered and not left, below the starting directory
bool outputKept = false;  // the current file record's existing file is left as it was
std::string reportedDirectory;  // the last current directory handed to the core  // directory records entered and not yet left, below the starting directory

// Stands for an output whose bytes are decoded and dropped: nothing on disk is touched.
FileHandle const SINK = (FileHandle)(intptr_t)-1;

FileHandle FromFd(int fd)
{
    return fd < 0 ? nullptr : (FileHandle)(intptr_t)(fd + 1);
}

int ToFd(FileHandle file)
{
    return (int)(intptr_t)file - 1;
}

void Record(HostEvent::Kind kind, u32 id, u32 value, std::string text = {}, std::string caption = {})
{
    HostEvent event;
    event.kind = kind;
    event.id = id;
    event.value = value;
    event.text = std::move(text);
    event.caption = std::move(caption);
    host.events.push_back(std::move(event));
}

// CON, NUL, COM1, LPT1, ... with or without an extension: Windows opens the device.
bool DeviceName(const char* name)
{
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t length = strcspn(name, ".");
    while (length && name[length - 1] == ' ')
        length--;
    std::string base(name, length);
    for (char& c : base)
        c = (char)toupper((unsigned char)c);
    for (const char* device : devices)
        if (base == device)
            return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// A name the confined extractor may create: one plain path component that Windows would
// create as it stands.
const char* UnsafeName(const char* name)
{
    if (!name[0])
        return "empty name";
    if (!strcmp(name, ".") || !strcmp(name, ".."))
        return "name is . or ..";
    for (const char* p = name; *p; p++) {
        if (*p == '/' || *p == '\\')
            return "name contains a path separator";
        if (*p == ':')
            return "name contains a drive or stream colon";
    }
    for (const char* p = name; *p; p++)
        if ((unsigned char)*p < 0x20 || strchr("<>\"|?*", *p))
            return "name contains a character Windows does not allow";
    char last = name[strlen(name) - 1];
    if (last == '.' || last == ' ')
        return "name ends in a dot or a space, which Windows drops";
    if (DeviceName(name))
        return "name is a device";
    return nullptr;
}

// list and test write nothing: what extraction would refuse is only reported.
bool WarnOnly()
{
    return host.warnOnly && host.discardOutput;
}

bool Refuse(const char* name)
{
    if (host.confineRoot.empty())
        return false;
    const char* why = UnsafeName(name);
    if (!why && depth < 0)
        why = "outside the install directory, after an up record above it";
    if (!why)
        return false;
    Record(WarnOnly() ? HostEvent::WARNED : HostEvent::REFUSED, 0, 0, std::string(name) + ": " + why);
    return !WarnOnly();
}

std::string CurrentDirectory()
{
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof(buffer)))
        return {};
    return buffer;
}

}  // namespace

const char* UnsafeRecordName(const char* name)
{
    return UnsafeName(name);
}

NativeHost& Host()
{
    return host;
}

void ResetHost()
{
    FreeStringBlock();
    host = NativeHost();
    depth = 0;
    reportedDirectory.clear();
    memset(&context, 0, sizeof(context));
    programDir[0] = firstVolumePath[0] = archiveDir[0] = 0;
    productTitle[0] = windowTitle[0] = detailText[0] = 0;
}

std::string ToWindowsPath(const std::string& native)
{
    std::string path = native;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string ToNativePath(const char* windows)
{
    std::string path = windows;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

u32 RunWorker()
{
    std::string saved = CurrentDirectory();
    jmp_buf exitPoint;
    u32 code;
    workerExit = &exitPoint;
    depth = 0;
    if (setjmp(exitPoint) == 0)
        code = ExtractionWorker(nullptr);
    else
        code = workerExitCode;
    workerExit = nullptr;
    // The worker may end anywhere; what it held is released as the installer would.
    ReleaseWorkerResources();
    InstallLogClose();  // the installer closes it at its end; natively the walk is the end
    if (!saved.empty() && chdir(saved.c_str()) != 0) {
        // The directory vanished under us; nothing sensible to return to.
    }
    return code;
}

void* PlatAlloc(u32 size)
{
    void* block = calloc(1, size ? size : 1);
    if (block)
        host.liveBlocks.insert(block);
    return block;
}

void PlatFree(void* block)
{
    if (!host.liveBlocks.erase(block)) {
        host.badReleases++;
        return;
    }
    free(block);
}

FileHandle PlatOpenRead(const char* path)
{
    std::string native = ToNativePath(path);
    if (!host.volumes.empty() &&
        std::find(host.volumes.begin(), host.volumes.end(), native) == host.volumes.end())
        return nullptr;
    int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    host.openFiles.insert(FromFd(fd));
    return FromFd(fd);
}

u32 PlatFileSize(FileHandle file)
{
    struct stat info;
    if (fstat(ToFd(file), &info) != 0)
        return 0;
    if ((unsigned long long)info.st_size > 0xFFFFFFFFull)
        return 0xFFFFFFFF;
    return (u32)info.st_size;
}

int PlatSeek(FileHandle file, u32 offset)
{
    return lseek(ToFd(file), (off_t)offset, SEEK_SET) == (off_t)offset;
}

u32 PlatRead(FileHandle file, void* buffer, u32 count, int* ok)
{
    u32 done = 0;
    *ok = 1;
    if (++host.reads == host.failReadAt) {
        *ok = 0;
        return 0;
    }
    while (done < count) {
        ssize_t n = read(ToFd(file), (char*)buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *ok = 0;
            break;
        }
        if (n == 0)
            break;
        done += (u32)n;
    }
    return done;
}

FileHandle PlatCreateOutput(const char* name)
{
    outputKept = false;
    if (Refuse(name) || (host.failCreate && host.failCreate(name)))
        return nullptr;
    std::string path = ToNativePath(name);
    struct stat info;
    bool exists = lstat(path.c_str(), &info) == 0;
    if (exists && !host.confineRoot.empty() && !host.overwrite && !host.discardOutput) {
        Record(HostEvent::KEPT, 0, 0, CurrentDirectory() + "/" + path);
        outputKept = true;
        return SINK;
    }
    if (host.discardOutput)
        return SINK;
    // As on Windows: a read-only file or a directory of that name cannot be replaced
    // (also when running as root, where open() would not refuse).
    if (exists && !S_ISDIR(info.st_mode) && !(info.st_mode & S_IWUSR) && host.replaceReadOnly &&
        host.overwrite)
        chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR);
    else if (exists && (S_ISDIR(info.st_mode) || !(info.st_mode & S_IWUSR)))
        return nullptr;
    // A symbolic link is replaced, never written through.
    if (exists && S_ISLNK(info.st_mode) && unlink(path.c_str()) != 0)
        return nullptr;
    FileHandle file = FromFd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (file)
        host.openFiles.insert(file);
    return file;
}

u32 PlatWrite(FileHandle file, const void* buffer, u32 count)
{
    if (file == SINK) {
        if (host.discardOutput && host.output)
            host.output((const u8*)buffer, count);
        return count;
    }
    if (count > host.writeLimit - host.written)
        count = (u32)(host.writeLimit - host.written);
    u32 done = 0;
    while (done < count) {
        ssize_t n = write(ToFd(file), (const char*)buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += (u32)n;
    }
    host.written += done;
    return done;
}

void PlatSetFileTime(FileHandle file, u64 fileTime)
{
    if (file == SINK)
        return;
    // FILETIME counts 100 ns from 1601; Unix time counts from 1970.
    const u64 unixEpoch = 116444736000000000ull;
    struct timespec times[2];
    long long seconds = fileTime >= unixEpoch ? (long long)((fileTime - unixEpoch) / 10000000ull)
                                              : -(long long)((unixEpoch - fileTime + 9999999ull) / 10000000ull);
    long long rest = (long long)(fileTime % 10000000ull) - (long long)(unixEpoch % 10000000ull);
    if (rest < 0)
        rest += 10000000;
    times[0].tv_sec = (time_t)seconds;
    times[0].tv_nsec = (long)(rest * 100);
    times[1] = times[0];
    futimens(ToFd(file), times);
}

void PlatClose(FileHandle file)
{
    if (file == SINK)
        return;
    if (!host.openFiles.erase(file)) {
        host.badReleases++;
        return;
    }
    close(ToFd(file));
}

void PlatSetAttributes(const char* name, u32 attributes)
{
    if (UnsafeName(name) && !host.confineRoot.empty())
        return;
    Record(HostEvent::ATTRIBUTES, 0, attributes, name);
    if (host.discardOutput || outputKept)
        return;
    std::string path = ToNativePath(name);
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    mode_t mode = info.st_mode & 07777;
    if (attributes & ATTRIBUTE_READONLY)
        mode &= ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    chmod(path.c_str(), mode);
}

int PlatCreateDirectory(const char* name)
{
    if (Refuse(name) || host.discardOutput)
        return 0;
    return mkdir(ToNativePath(name).c_str(), 0777) == 0;
}

int PlatSetCurrentDirectory(const char* path)
{
    bool confined = !host.confineRoot.empty();
    if (host.failEnter && reportedDirectory != path && host.failEnter(path))
        return 0;
    if (!strcmp(path, "..")) {
        if (confined && depth <= 0) {
            if (!WarnOnly()) {
                Record(HostEvent::REFUSED, 0, 0, "up record above the extraction directory");
                return 0;
            }
            Record(HostEvent::WARNED, 0, 0, "up record above the install directory");
        }
        if (!host.discardOutput && chdir("..") != 0)
            return 0;
        depth--;
        return 1;
    }
    // Full paths come from the core itself: the volume input restoring the directory it
    // saw. A record's name that merely looks like one is refused when confined (and only
    // counted as a level when nothing is written).
    if ((path[0] == '\\' || (path[0] && path[1] == ':')) && (!confined || reportedDirectory == path))
        return chdir(ToNativePath(path).c_str()) == 0;
    if (path[0] == '\\' || (path[0] && path[1] == ':')) {
        if (!WarnOnly()) {
            Record(HostEvent::REFUSED, 0, 0, std::string(path) + ": a path, not a name");
            return 0;
        }
    }
    if (confined && Refuse(path))
        return 0;
    if (host.discardOutput) {
        depth++;  // nothing was created: only the depth of the walk is kept
        return 1;
    }
    std::string native = ToNativePath(path);
    struct stat info;
    if (confined && lstat(native.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        Record(HostEvent::REFUSED, 0, 0, std::string(path) + ": directory is a symbolic link");
        return 0;
    }
    if (chdir(native.c_str()) != 0)
        return 0;
    depth++;
    return 1;
}

u32 PlatGetCurrentDirectory(char* buffer, u32 capacity)
{
    std::string path = ToWindowsPath(CurrentDirectory());
    reportedDirectory = path;
    if (path.empty() || path.size() + 1 > capacity)
        return 0;
    memcpy(buffer, path.c_str(), path.size() + 1);
    return (u32)path.size();
}

int PlatFullPath(const char* name, char* buffer)
{
    std::string path = ToWindowsPath(CurrentDirectory());
    if (path.empty() || path.back() != '\\')
        path += '\\';
    path += name;
    if (path.size() + 1 > TEXT_SIZE)
        return 0;
    memcpy(buffer, path.c_str(), path.size() + 1);
    return 1;
}

int PlatProgramPath(char* buffer)
{
    CopyText(buffer, ToWindowsPath(host.programPath).c_str(), TEXT_SIZE);
    return buffer[0] != 0;
}

int PlatProgramFilesDir(char* buffer)
{
    if (!host.programFilesDir)
        return 0;
    CopyText(buffer, host.programFilesDir->c_str(), TEXT_SIZE);
    return 1;
}

int PlatMessageBox(WindowHandle, const char* text, const char* caption, u32 style)
{
    Record(HostEvent::MESSAGE_BOX, 0, style, text, caption);
    if (host.messageBox)
        return host.messageBox(text, caption, style);
    if (style & BOX_YES_NO)
        return ANSWER_NO;
    if (style & BOX_OK_CANCEL)
        return ANSWER_CANCEL;
    return ANSWER_OK;
}

// The volume a "diskN.pak" names, from host.volumes; none when the name is another.
static std::optional<std::string> KnownVolume(const char* name)
{
    unsigned number = 0;
    int end = 0;
    if (sscanf(name, "disk%u.pak%n", &number, &end) != 1 || name[end] || number == 0 ||
        number > host.volumes.size())
        return std::nullopt;
    return host.volumes[number - 1];
}

int PlatOpenFileDialog(WindowHandle, const char* filter, char* path, const char*)
{
    std::optional<std::string> chosen;
    if (!host.volumes.empty())
        chosen = KnownVolume(path);
    else if (host.openFile)
        chosen = host.openFile(path);
    std::string full = chosen ? ToWindowsPath(*chosen) : "";
    bool fits = chosen && full.size() + 1 <= 260;
    Record(HostEvent::OPEN_FILE, 0, fits ? 1 : 0, path, std::string(filter, strcspn(filter, "|")));
    if (!fits)
        return 0;
    memcpy(path, full.c_str(), full.size() + 1);
    return 1;
}

void PlatSetControlText(u32 controlId, const char* text)
{
    Record(HostEvent::CONTROL_TEXT, controlId, 0, text);
}

void PlatBarCommand(u32 command, u32 value)
{
    if (command == BAR_SETPOS) {
        host.lastBarPosition = value;
        host.barPositions++;
        if (!host.recordBar)
            return;
    }
    Record(HostEvent::BAR, command, value);
}

void PlatNotifyWorkerAborted()
{
    Record(HostEvent::ABORTED, ID_WORKER_ABORTED, 0);
}

void PlatPostCreateGroup()
{
    Record(HostEvent::CREATE_GROUP, CMD_CREATE_GROUP, 0);
}

int PlatStartProcess(char* commandLine)
{
    Record(HostEvent::START_PROCESS, 0, 0, commandLine, CurrentDirectory());
    if (host.startProcess)
        return host.startProcess(commandLine) ? 1 : 0;
    return 1;
}

int PlatInstallStarting()
{
    if (!host.installLog)
        return 0;
    InstallLogHead head = {"HKCU", host.installLogDirectory.c_str(), host.installLogCreatedLevels};
    return InstallLogOpen(&head);
}

u32 PlatArchiveText(const char* text, char* destination, u32 capacity)
{
    // The tools convert from the archive's code page where they show or write a text; the
    // tests write ASCII and UTF-8 names: the bytes stand as they are.
    std::string converted = host.archiveText ? host.archiveText(text) : std::string(text);
    u32 length = (u32)converted.size();
    if (length >= capacity) {
        if (capacity)
            destination[0] = 0;
        return 0;
    }
    memcpy(destination, converted.c_str(), length + 1);
    return length;
}

void PlatRecordStart()
{
    if (host.recordStart)
        host.recordStart();
}

void PlatRecordDone(const RecordHeader* record, u32 size)
{
    if (host.recordDone)
        host.recordDone(*record, size);
}

int PlatWorkerSafePoint()
{
    return host.safePoint && host.safePoint() ? 1 : 0;
}

void PlatExitWorker(u32 exitCode)
{
    workerExitCode = exitCode;
    if (workerExit)
        longjmp(*workerExit, 1);
    // Only RunWorker runs the worker natively.
    abort();
}
