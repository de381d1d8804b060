// The files a pack writes: the installer, and the volumes when the archive is split.
// Everything goes to temporary names beside the outputs first; only Commit gives the
// files their names, so a failed pack leaves what was there before untouched.
#ifndef QUILL_TOOLS_OUTPUT_H
#define QUILL_TOOLS_OUTPUT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "archive/format.h"

struct OutputLayout {
    enum Kind {
        SINGLE,   // the installer: stub zero-padded to 0xE000, then the whole archive
        VOLUMES,  // the stub alone, and disk1.pak, disk2.pak, ... of volumeSize bytes
        SPLIT     // the installer of at most firstSize bytes, then disk2.pak, ...
    } kind = SINGLE;
    u64 firstSize = 0;   // SPLIT
    u64 volumeSize = 0;  // VOLUMES, SPLIT
};

struct OutputFile {
    std::string finalPath;
    std::string tempPath;
    u32 volume;          // 0 for a stub without archive, else the volume number
    u64 size = 0;
};

class OutputSet {
public:
    // installer: the path of the installer to write; volumes go beside it. Fails with
    // EXIT_USAGE for a stub that does not fit, EXIT_IO when the folder is not writable.
    OutputSet(const std::string& installer, const std::vector<u8>& stub, const OutputLayout& layout);
    // Removes the temporary files unless committed.
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Archive bytes, in order. Fails with EXIT_IO.
    void Write(const u8* data, size_t size);
    // Flushes and syncs everything written. Fails with EXIT_IO.
    void Finish();
    const std::vector<OutputFile>& Files() const { return files_; }
    u64 ArchiveBytes() const { return archiveBytes_; }
    // Renames every file to its name, the installer last, and removes the volumes a
    // former pack of the same name left beyond the new last one. Fails with EXIT_IO.
    void Commit();

private:
    void OpenNext();
    void Flush();

    std::string directory_;
    std::string installer_;
    OutputLayout layout_;
    std::vector<OutputFile> files_;
    int fd_ = -1;           // the file being written
    u64 room_ = 0;          // archive bytes the current file still takes
    u64 archiveBytes_ = 0;
    std::vector<u8> buffer_;
    bool committed_ = false;
};

// "1.44M" (1457664, a formatted 1.44 MB floppy), "720K" (737280), "64K", "2M" (binary
// multiples), or a plain number of bytes; false when the text is none of these. A size
// past 64 bits gives UINT64_MAX.
bool ParseSize(const std::string& text, u64& size);

#endif
