#include "files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "quill.h"

ScratchDir::ScratchDir()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quill-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data()))
        FailErrno("cannot create a scratch folder in " + DirectoryOf(pattern));
    path_ = buffer.data();
}

ScratchDir::~ScratchDir()
{
    RemoveTree(path_);
}

static int RemoveOne(const char* path, const struct stat*, int type, struct FTW*)
{
    if (type == FTW_DP)
        rmdir(path);
    else
        unlink(path);
    return 0;
}

void RemoveTree(const std::string& path)
{
    // Folders left without write permission would stop the removal of their entries.
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        unlink(path.c_str());
        return;
    }
    nftw(path.c_str(), [](const char* p, const struct stat* s, int type, struct FTW*) {
        if (type == FTW_D && !(s->st_mode & S_IWUSR))
            chmod(p, s->st_mode | S_IRWXU);
        return 0;
    }, 32, FTW_PHYS);
    nftw(path.c_str(), RemoveOne, 32, FTW_DEPTH | FTW_PHYS);
}

void MakeDirectories(const std::string& path)
{
    std::string partial;
    std::string text = path + "/";
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '/' && !partial.empty()) {
            if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
                FailErrno("cannot create folder " + partial);
        }
        partial += text[i];
    }
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        Fail(EXIT_IO, path + " is not a folder");
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof(buffer)))
        FailErrno("cannot find the current folder");
    std::string result = buffer;
    if (path.empty() || path == ".")
        return result;
    std::string rest = path;
    while (rest.compare(0, 2, "./") == 0)
        rest.erase(0, 2);
    return result + (result.size() > 1 ? "/" : "") + rest;
}

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FindNameIgnoringCase(const std::string& directory, const std::string& name)
{
    struct stat info;
    if (stat((directory + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
        return name;
    DIR* dir = opendir(directory.c_str());
    if (!dir)
        return "";
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0 &&
            stat((directory + "/" + entry->d_name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* p = (const char*)data;
    while (size) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= (size_t)n;
    }
    return true;
}

static inline uint64_t Mix(uint64_t x)
{
    x ^= x >> 31;
    x *= 0x7FB5D329728EA185ull;
    x ^= x >> 27;
    x *= 0x81DADEF4BC2DD44Dull;
    x ^= x >> 33;
    return x;
}

void ContentHash::Add(const uint8_t* data, size_t size)
{
    // Word by word; the bytes of a partial word wait for the next piece, so the value does
    // not depend on how the bytes were cut.
    length_ += size;
    while (size) {
        size_t take = 8 - partSize_;
        if (take > size)
            take = size;
        memcpy(reinterpret_cast<uint8_t*>(&part_) + partSize_, data, take);
        partSize_ += (uint32_t)take;
        data += take;
        size -= take;
        if (partSize_ == 8) {
            state_ = Mix(state_ ^ part_) + 0x9E3779B97F4A7C15ull;
            part_ = 0;
            partSize_ = 0;
        }
    }
}

uint64_t ContentHash::Value() const
{
    uint64_t state = state_;
    if (partSize_)
        state = Mix(state ^ part_ ^ ((uint64_t)partSize_ << 56));
    return Mix(state ^ length_);
}

bool HashFile(const std::string& path, uint64_t& hash)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ContentHash content;
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
        // Whole blocks, so that every piece but the last is a multiple of 8 bytes.
        size_t filled = 0;
        while (filled < buffer.size()) {
            ssize_t n = read(fd, buffer.data() + filled, buffer.size() - filled);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                close(fd);
                return false;
            }
            if (n == 0)
                break;
            filled += (size_t)n;
        }
        content.Add(buffer.data(), filled);
        if (filled < buffer.size())
            break;
    }
    close(fd);
    hash = content.Value();
    return true;
}
