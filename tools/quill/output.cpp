#include "output.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"
#include "quill.h"

namespace {

const size_t BUFFER_SIZE = 1 << 20;
const u32 MAX_VOLUMES = 99999;

std::string VolumeFileName(u32 n)
{
    return "disk" + std::to_string(n) + ".pak";
}

// A fresh temporary file beside finalPath, with the mode a new file would get.
int CreateTemporary(const std::string& finalPath, std::string& tempPath)
{
    std::string pattern = DirectoryOf(finalPath) + "/." + BaseName(finalPath) + ".quill-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        FailErrno("cannot create a file in " + DirectoryOf(finalPath));
    tempPath = name.data();
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return fd;
}

}  // namespace

bool ParseSize(const std::string& text, u64& size)
{
    size = 0;
    if (text == "1.44M" || text == "1.44m")
        return size = 1457664, true;
    if (text == "720K" || text == "720k")
        return size = 737280, true;
    if (text.empty())
        return false;
    u64 multiple = 1;
    std::string digits = text;
    char last = (char)toupper((unsigned char)text.back());
    if (last == 'K' || last == 'M') {
        multiple = last == 'K' ? 1024 : 1024 * 1024;
        digits.pop_back();
    }
    if (digits.empty())
        return false;
    // Saturating: a size past 64 bits must read as too large, never wrap to a small one.
    u64 value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        u64 digit = (u64)(c - '0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    }
    size = value > UINT64_MAX / multiple ? UINT64_MAX : value * multiple;
    return true;
}

OutputSet::OutputSet(const std::string& installer, const std::vector<u8>& stub, const OutputLayout& layout)
    : layout_(layout)
{
    installer_ = AbsolutePath(installer);
    directory_ = DirectoryOf(installer_);
    if (stub.size() > ARCHIVE_OFFSET)
        Fail(EXIT_USAGE, "the installer program has " + std::to_string(stub.size()) +
                             " bytes; at most 57344 (0xE000) fit before the archive");
    buffer_.reserve(BUFFER_SIZE);
    OutputFile first;
    first.finalPath = installer_;
    first.volume = layout.kind == OutputLayout::VOLUMES ? 0 : 1;
    fd_ = CreateTemporary(installer_, first.tempPath);
    files_.push_back(first);
    // The program first; an appended archive starts at 0xE000, the gap zero-filled.
    std::vector<u8> head(stub);
    if (layout.kind != OutputLayout::VOLUMES)
        head.resize(ARCHIVE_OFFSET, 0);
    if (!WriteAll(fd_, head.data(), head.size()))
        FailErrno("cannot write " + first.tempPath);
    files_.back().size = head.size();
    if (layout.kind == OutputLayout::SINGLE)
        room_ = UINT64_MAX;
    else if (layout.kind == OutputLayout::SPLIT)
        room_ = layout.firstSize - ARCHIVE_OFFSET;
    else
        room_ = 0;  // the first archive byte opens disk1.pak
}

OutputSet::~OutputSet()
{
    if (fd_ >= 0)
        close(fd_);
    if (!committed_)
        for (const OutputFile& file : files_)
            unlink(file.tempPath.c_str());
}

void OutputSet::Flush()
{
    if (buffer_.empty())
        return;
    if (!WriteAll(fd_, buffer_.data(), buffer_.size()))
        FailErrno("cannot write " + files_.back().tempPath);
    buffer_.clear();
}

void OutputSet::OpenNext()
{
    Flush();
    if (fsync(fd_) != 0 || close(fd_) != 0) {
        fd_ = -1;
        FailErrno("cannot write " + files_.back().tempPath);
    }
    fd_ = -1;
    u32 number = files_.back().volume + 1;
    if (number > MAX_VOLUMES)
        Fail(EXIT_USAGE, "more than " + std::to_string(MAX_VOLUMES) + " volumes; choose a larger volume size");
    OutputFile next;
    next.finalPath = directory_ + "/" + VolumeFileName(number);
    next.volume = number;
    fd_ = CreateTemporary(next.finalPath, next.tempPath);
    files_.push_back(next);
    room_ = layout_.volumeSize;
}

void OutputSet::Write(const u8* data, size_t size)
{
    while (size) {
        if (room_ == 0)
            OpenNext();
        size_t n = size;
        if (n > room_)
            n = (size_t)room_;
        if (buffer_.size() + n > BUFFER_SIZE)
            Flush();
        if (n >= BUFFER_SIZE) {
            if (!WriteAll(fd_, data, n))
                FailErrno("cannot write " + files_.back().tempPath);
        } else {
            buffer_.insert(buffer_.end(), data, data + n);
        }
        files_.back().size += n;
        archiveBytes_ += n;
        room_ -= n;
        data += n;
        size -= n;
    }
}

void OutputSet::Finish()
{
    Flush();
    int fd = fd_;
    fd_ = -1;
    if (fsync(fd) != 0 || close(fd) != 0)
        FailErrno("cannot write " + files_.back().tempPath);
}

void OutputSet::Commit()
{
    // The volumes first: an installer under its new name means its volumes are in place.
    for (size_t i = 1; i <= files_.size(); i++) {
        const OutputFile& file = files_[i % files_.size()];
        if (rename(file.tempPath.c_str(), file.finalPath.c_str()) != 0)
            FailErrno("cannot rename " + file.tempPath + " to " + file.finalPath);
    }
    committed_ = true;
    if (layout_.kind == OutputLayout::SINGLE)
        return;
    u32 last = files_.back().volume;
    for (u32 n = last + 1; n <= MAX_VOLUMES; n++) {
        std::string stale = directory_ + "/" + VolumeFileName(n);
        if (unlink(stale.c_str()) != 0)
            break;
        Warn("removed " + stale + ", left by an earlier pack");
    }
}
