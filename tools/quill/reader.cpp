#include "reader.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "archive/archive.h"
#include "archive/context.h"
#include "archive/extension.h"
#include "archive/messages.h"
#include "host/native_host.h"
#include "codepage.h"
#include "files.h"
#include "pe/image.h"
#include "quill.h"
#include "stream_watcher.h"

namespace {

const u32 MAX_VOLUMES = 99999;

bool EndsWithPak(const std::string& name)
{
    return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".pak") == 0;
}

// The N of "diskN.pak", or 0.
u32 DiskNumber(const std::string& name)
{
    if (name.size() < 9 || strncasecmp(name.c_str(), "disk", 4) != 0 || !EndsWithPak(name))
        return 0;
    std::string digits = name.substr(4, name.size() - 8);
    if (digits.empty() || digits.size() > 5 || digits[0] == '0')
        return 0;
    for (char c : digits)
        if (c < '0' || c > '9')
            return 0;
    return (u32)std::stoul(digits);
}

std::string NativeCurrentDirectory()
{
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof(buffer)) ? buffer : "";
}

std::string StartupExplanation(const std::string& coreText)
{
    if (coreText == TEXT_READING_HEADER)
        return coreText + " (fewer than 22 bytes where the archive header should be)";
    if (coreText == TEXT_READING_RESOURCE)
        return coreText + " (the string block runs past the end of volume 1)";
    return coreText;
}

}  // namespace

ArchiveReader::ArchiveReader(const std::string& archive, const std::string& volumesDir)
    : volumesDir_(volumesDir)
{
    archive_ = AbsolutePath(archive);
    struct stat info;
    if (stat(archive_.c_str(), &info) != 0)
        FailErrno("cannot open " + archive);
    if (!S_ISREG(info.st_mode))
        Fail(EXIT_USAGE, archive + " is not a file");
    if (access(archive_.c_str(), R_OK) != 0)
        FailErrno("cannot read " + archive);
    std::string name = BaseName(archive_);
    std::string beside = DirectoryOf(archive_);
    if (!volumesDir_.empty()) {
        if (stat(volumesDir_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            Fail(EXIT_USAGE, "--volumes " + volumesDir_ + " is not a folder");
        volumesDir_ = AbsolutePath(volumesDir_);
    }
    auto find = [&](u32 n) -> std::string {
        std::string file = "disk" + std::to_string(n) + ".pak";
        for (const std::string& dir : {volumesDir_, beside}) {
            if (dir.empty())
                continue;
            std::string found = FindNameIgnoringCase(dir, file);
            if (!found.empty())
                return dir + "/" + found;
        }
        return "";
    };

    if (EndsWithPak(name)) {
        u32 number = DiskNumber(name);
        if (number > 1)
            Fail(EXIT_USAGE, archive + " is volume " + std::to_string(number) +
                                 "; give disk1.pak or the installer");
        volumes_.push_back({archive_, (u64)info.st_size});
    } else if (ReadSignature(archive_).tableOffset > ARCHIVE_OFFSET) {
        embedded_ = true;
        volumes_.push_back({archive_, (u64)info.st_size});
    } else {
        std::string first = find(1);
        if (first.empty())
            Fail(EXIT_DAMAGED, archive + " holds no archive (" + std::to_string(info.st_size) +
                                   " bytes) and disk1.pak is neither beside it" +
                                   (volumesDir_.empty() ? "" : " nor in " + volumesDir_));
        struct stat volume;
        if (stat(first.c_str(), &volume) != 0)
            FailErrno("cannot open " + first);
        volumes_.push_back({first, (u64)volume.st_size});
    }
    for (u32 n = 2; n <= MAX_VOLUMES; n++) {
        std::string path = find(n);
        if (path.empty())
            break;
        struct stat volume;
        if (stat(path.c_str(), &volume) != 0)
            FailErrno("cannot open " + path);
        volumes_.push_back({path, (u64)volume.st_size});
    }
    CheckVolumeSizes();
}

ArchiveReader::ArchiveReader(const std::vector<VolumeFile>& volumes, bool embedded)
    : embedded_(embedded), volumes_(volumes)
{
    archive_ = volumes.at(0).path;
    CheckVolumeSizes();
}

void ArchiveReader::CheckVolumeSizes()
{
    for (const VolumeFile& volume : volumes_)
        if (volume.size > 0xFFFFFFFFull)
            Fail(EXIT_DAMAGED, volume.path + " is larger than a volume can be (4 GiB - 1)");
    // A signed installer's volume 1 ends where its certificate table begins.
    if (embedded_)
        volumes_[0].size = ReadSignature(volumes_[0].path).tableOffset;

}

ArchiveReader::~ArchiveReader()
{
    FreeStringBlock();
}

void ArchiveReader::SetVolumes() const
{
    Host().volumes.clear();
    for (const VolumeFile& volume : volumes_)
        Host().volumes.push_back(volume.path);
}

void ArchiveReader::Open()
{
    FreeStringBlock();
    ResetHost();
    Host().programFilesDir = std::string("C:\\Program Files");
    // The core reads exactly the files found, whatever their names, while the reader runs
    // it; the rest of quill reads as it likes.
    SetVolumes();
    int opened = OpenArchiveFile(ToWindowsPath(volumes_[0].path).c_str(), embedded_);
    Host().volumes.clear();
    if (!opened) {
        std::string text = "cannot be opened";
        for (const HostEvent& event : Host().events)
            if (event.kind == HostEvent::MESSAGE_BOX)
                text = StartupExplanation(event.text);
        Fail(EXIT_DAMAGED, archive_ + ": " + text);
    }
}

const ArchiveHeader& ArchiveReader::Header() const
{
    return context.header;
}

std::string ArchiveReader::Entry(u32 n) const
{
    return StringBlockEntry(0, n);
}

std::string ArchiveReader::GroupItemTitle(u32 item) const
{
    return StringBlockEntry(context.header.groupItemsOffset, 2 * item - 1);
}

std::string ArchiveReader::GroupItemPath(u32 item) const
{
    return StringBlockEntry(context.header.groupItemsOffset, 2 * item);
}

std::string ArchiveReader::Message(int id) const
{
    std::vector<char> text(context.header.stringBlockSize + 1);
    return LookupMessage(id, text.data(), (u32)text.size());
}

bool ArchiveReader::StringBlockSound() const
{
    return StringBlockIsSound(context.stringBlock, context.header.stringBlockSize, &context.header) != 0;
}

bool ArchiveReader::HasExtension() const
{
    return context.stringBlock && FindExtension(context.stringBlock, context.header.stringBlockSize) != 0;
}

std::vector<std::string> ArchiveReader::ExtensionEntries() const
{
    std::vector<std::string> entries;
    if (!context.stringBlock)
        return entries;
    const char* block = context.stringBlock;
    u32 size = context.header.stringBlockSize;
    for (u32 at = NextExtensionEntry(block, size, 0); at; at = NextExtensionEntry(block, size, at))
        entries.push_back(block + at);
    return entries;
}

bool ArchiveReader::Extension(const std::string& key, std::string& value) const
{
    const char* found = context.stringBlock
                            ? ExtensionValueIn(context.stringBlock, context.header.stringBlockSize, key.c_str())
                            : nullptr;
    value = found ? found : "";
    return found != nullptr;
}

std::string ArchiveReader::LastEntry() const
{
    u32 size = context.header.stringBlockSize;
    if (!context.stringBlock || size < 2)
        return "";
    const char* block = context.stringBlock;
    u32 end = block[size - 1] ? size : size - 1;
    u32 start = end;
    while (start > 0 && block[start - 1])
        start--;
    return std::string(block + start, end - start);
}

std::string ArchiveReader::DefaultInstallDir() const
{
    return context.installDir;
}

std::string ArchiveReader::VolumeName(u32 volume) const
{
    if (volume >= 1 && volume <= volumes_.size())
        return volumes_[volume - 1].path;
    return "disk" + std::to_string(volume) + ".pak";
}

std::string ArchiveReader::Where(u32 volume, u64 offset) const
{
    return BaseName(VolumeName(volume)) + " offset " + std::to_string(offset);
}

// Where the next unread byte of the stream lies: the bytes taken from the current volume
// less those still waiting in the read buffer, which may reach back into earlier volumes.
void ArchiveReader::Position(u32& volume, u64& offset) const
{
    volume = context.volumeNumber ? context.volumeNumber : 1;
    if (volume > volumes_.size()) {
        volume = (u32)volumes_.size();
        offset = volumes_.back().size;
        return;
    }
    u64 consumed = volumes_[volume - 1].size - context.volumeRemaining;
    u64 pending = context.readFill - context.readPos;
    while (pending > consumed && volume > 1) {
        pending -= consumed;
        volume--;
        consumed = volumes_[volume - 1].size;
    }
    offset = consumed >= pending ? consumed - pending : 0;
}

WalkResult ArchiveReader::Walk(const WalkSettings& settings)
{
    if (walked_)
        Open();
    walked_ = true;
    // Extract writes into its folder, verify into a scratch folder; list and test decode
    // without writing, in an empty scratch folder as the confinement root.
    std::string target = settings.target;
    if (target.empty()) {
        if (!scratch_)
            scratch_.reset(new ScratchDir());
        target = scratch_->Path() + "/tree";
        if (mkdir(target.c_str(), 0700) != 0 && errno != EEXIST)
            FailErrno("cannot create " + target);
    }
    char resolved[PATH_MAX];
    if (!realpath(target.c_str(), resolved))
        FailErrno("cannot open " + target);
    target = resolved;
    bool writes = !settings.target.empty() || settings.decodeToScratch;

    NativeHost& host = Host();
    host.events.clear();
    host.confineRoot = target;
    // A scratch walk replaces, so that a name clash fails as in the installer.
    host.overwrite = settings.target.empty() ? true : settings.overwrite;
    host.replaceReadOnly = host.overwrite;
    host.discardOutput = !writes;
    host.warnOnly = !writes;
    host.output = settings.onOutput;
    host.recordBar = false;
    host.lastBarPosition = 0;
    host.barPositions = 0;
    StreamWatcher watcher(*this, settings, writes ? target : "");
    host.recordStart = [&watcher]() { watcher.RecordStart(); };
    host.recordDone = [&watcher](const RecordHeader& record, u32 size) { watcher.RecordDone(record, size); };
    host.safePoint = [&watcher]() { return watcher.SafePoint(); };

    std::string saved = NativeCurrentDirectory();
    if (chdir(target.c_str()) != 0)
        FailErrno("cannot enter " + target);
    SetVolumes();
    u32 code = RunWorker();
    host.volumes.clear();
    if (saved.empty() || chdir(saved.c_str()) != 0) {
        if (chdir("/") != 0) {
        }
    }
    host.safePoint = nullptr;
    host.recordDone = nullptr;
    host.recordStart = nullptr;
    host.output = nullptr;
    watcher.Finish(code);
    return watcher.result;
}
