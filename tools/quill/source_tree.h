// The folder to pack, walked into the order of the record stream, with every name,
// size, time and attribute checked against what the archive and Windows can hold.
#ifndef QUILL_TOOLS_SOURCE_TREE_H
#define QUILL_TOOLS_SOURCE_TREE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "archive/format.h"
#include "project.h"

class CodePage;

struct TreeEntry {
    enum Kind { DIRECTORY, UP, FILE } kind;
    std::string path;     // UTF-8, relative to the source folder, "/" separated; "" for UP
    std::string source;   // native path to read (FILE)
    std::string stored;   // the name as the archive stores it, in the code page
    u64 size = 0;
    u64 fileTime = 0;     // FILETIME, UTC
    u32 attributes = 0;
};

struct SourceTree {
    std::vector<TreeEntry> entries;  // depth-first; every DIRECTORY has its UP
    u64 totalSize = 0;
    u32 files = 0;
    u32 directories = 0;
};

struct WalkOptions {
    const CodePage* codePage = nullptr;
    bool followSymlinks = false;
    const std::vector<AttributeRule>* rules = nullptr;
    // SOURCE_DATE_EPOCH: modification times after it are stored as it (reproducible builds).
    bool clampTimes = false;
    int64_t latestSeconds = 0;
};

// Walks root: in each folder its files, then its subfolders, each by the byte order of
// their UTF-8 names, so the same folder gives the same stream. Fails with EXIT_USAGE
// listing what cannot be packed (names, links, special files, limits), EXIT_IO when a
// folder or file cannot be examined.
SourceTree WalkSourceTree(const std::string& root, const WalkOptions& options);

// Checks a name as stored: what Windows accepts as a file or folder name. "" or what is
// wrong with it.
std::string CheckStoredName(const std::string& stored);

// Unix time to FILETIME (100 ns since 1601, UTC); false when it cannot be represented.
bool UnixToFileTime(int64_t seconds, long nanoseconds, u64& fileTime);
// And back, as the extractor applied it.
void FileTimeToUnix(u64 fileTime, int64_t& seconds, long& nanoseconds);
// "1998-09-14 12:00:00" (UTC), with ".1234567" when the time has a fraction.
std::string FormatFileTime(u64 fileTime);

#endif
