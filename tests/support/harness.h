// Test support: temporary directories, installers and volumes on disk, and running the
// core's start-up and worker through the native host.
#ifndef QUILL_TESTS_HARNESS_H
#define QUILL_TESTS_HARNESS_H

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "archive/format.h"
#include "host/native_host.h"
#include "pack/writer.h"

typedef std::vector<u8> Bytes;

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);
Bytes TextBytes(const std::string& text);
Bytes RandomBytes(size_t size, unsigned seed);
// text repeated to size bytes (the last copy cut short).
Bytes Repeat(const std::string& text, size_t size);
Bytes Join(std::initializer_list<Bytes> parts);

// A whole archive with the English messages and a default string block.
Bytes MakeArchive(const RecordWriter& records, StringBlockContent content = {});
// Writes dir/setup.exe: zeros up to 0xE000, then the archive. Returns its path.
std::string WriteInstaller(const std::string& dir, const Bytes& archive, size_t stubSize = ARCHIVE_OFFSET);

// Splits bytes at the given offsets (ascending) into dir/disk1.pak, disk2.pak, ...
void WriteVolumes(const std::string& dir, const Bytes& archive, const std::vector<size_t>& cuts);

// ResetHost, then OpenArchive with the program at programPath. Returns its result.
int OpenAt(const std::string& programPath);
// Runs the worker with target as the current directory.
u32 ExtractInto(const std::string& target);

// Every file and directory under root: relative path -> contents ("/" marks a directory).
std::map<std::string, Bytes> ReadTree(const std::string& root);

// The test corpus beside the project (sourceDir/../shared/corpus), or "" when it is not
// there: the tests that need it skip, saying where they looked.
std::string CorpusDir(const std::string& sourceDir);

// Host events of one kind.
std::vector<HostEvent> EventsOf(HostEvent::Kind kind);
// The texts of message boxes shown, in order.
std::vector<std::string> BoxTexts();

#endif
