// Small file-system helpers of the tool.
#ifndef QUILL_TOOLS_FILES_H
#define QUILL_TOOLS_FILES_H

#include <stdint.h>

#include <string>
#include <vector>

// A private folder under TMPDIR, removed with everything in it when the owner goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Removes a file or a whole tree; read-only entries too. Errors are ignored.
void RemoveTree(const std::string& path);
// mkdir -p. Fails with EXIT_IO.
void MakeDirectories(const std::string& path);
// The absolute form of a path, without resolving links. Fails with EXIT_IO.
std::string AbsolutePath(const std::string& path);
std::string DirectoryOf(const std::string& path);  // "." when there is no slash
std::string BaseName(const std::string& path);
// The entry of directory whose name equals name ignoring ASCII case, preferring the exact
// name; "" when there is none. Volumes copied from floppies may be DISK2.PAK.
std::string FindNameIgnoringCase(const std::string& directory, const std::string& name);
// Writes all bytes; false on failure (errno set).
bool WriteAll(int fd, const void* data, size_t size);
// 64-bit hash of bytes, for comparing what was packed with what decodes.
class ContentHash {
public:
    void Add(const uint8_t* data, size_t size);
    uint64_t Value() const;

private:
    uint64_t state_ = 0x9E3779B97F4A7C15ull;
    uint64_t length_ = 0;
    uint64_t part_ = 0;       // the bytes of a word not yet whole, from its low end
    uint32_t partSize_ = 0;
};
// The hash of a file's bytes; false when it cannot be read.
bool HashFile(const std::string& path, uint64_t& hash);

#endif
