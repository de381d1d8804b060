#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW* walk)
{
    if (walk->level > 0)
        remove(path);
    return 0;
}

std::string made;

void RemoveWorkDir()
{
    if (!made.empty()) {
        EmptyFolder(made);
        rmdir(made.c_str());
    }
}

}  // namespace

void FuzzFailed(const char* what, const char* file, int line)
{
    fprintf(stderr, "fuzz check failed at %s:%d: %s\n", file, line, what);
    abort();
}

const std::string& WorkDir()
{
    if (made.empty()) {
        char pattern[] = "/tmp/quill-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern), "cannot make a work folder");
        made = pattern;
        atexit(RemoveWorkDir);
    }
    return made;
}

void WriteFileOrDie(const std::string& path, const uint8_t* data, size_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0, "cannot write a work file");
    FUZZ_CHECK(size == 0 || write(fd, data, size) == (ssize_t)size, "cannot write a work file");
    close(fd);
}

void EmptyFolder(const std::string& path)
{
    // Read-only files go too: removing needs the folder's permission only, and the worker
    // never makes a folder read-only.
    nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string& name : names)
        list += name + "\n";
    return list;
}
