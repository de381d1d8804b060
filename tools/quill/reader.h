// Reading an installer or a disk1.pak through the core: OpenArchive takes the header and
// the string block, the installer's own extraction worker walks the record stream. The
// reader only watches: the native host tells it each record the worker has handled and
// stops the worker at a safe point when a check fails.
#ifndef QUILL_TOOLS_READER_H
#define QUILL_TOOLS_READER_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/format.h"

class CodePage;
class ScratchDir;

struct VolumeFile {
    std::string path;  // as found: the installer, disk1.pak, disk2.pak, ...
    u64 size;
};

struct ArchiveRecord {
    enum Kind { DIRECTORY, UP, FILE } kind;
    u32 index = 0;          // from 1, in stream order
    std::string name;       // as stored, in the archive's code page
    std::string path;       // stored names from the root, "/" between them
    std::string diskPath;   // what was written (FILE, DIRECTORY): "" when the walk writes
                            // nothing; a scratch file is gone once onRecord returns
    u32 size = 0;           // uncompressedSize
    u32 decoded = 0;        // bytes the decoder produced
    u32 attributes = 0;
    u64 fileTime = 0;
    bool kept = false;      // an existing file was left in place
    u32 volume = 0;         // where the record begins: volume number, from 1,
    u64 offset = 0;         // and the byte offset in that volume's file
};

struct WalkSettings {
    // The folder to extract into. "" decodes without writing (list, test), or, with
    // decodeToScratch, writes each file to a scratch folder where it is removed as soon as
    // onRecord has seen it (verify).
    std::string target;
    bool decodeToScratch = false;
    bool overwrite = false;
    // The code page names are shown in (messages), and with renameToUtf8 the one they
    // are converted from on disk (extract); 0 shows bytes as they are and keeps them.
    const CodePage* codePage = nullptr;
    bool renameToUtf8 = false;
    // With no target and no scratch folder: receives each file's decoded bytes as the
    // worker writes them, in pieces of at most 65535 bytes.
    std::function<void(const u8* data, u32 size)> onOutput;
    // Called for every record once the worker is done with it. A message back stops the
    // walk as damaged (verify finds a difference).
    std::function<std::string(const ArchiveRecord&)> onRecord;
};

struct WalkResult {
    int code = 0;             // ExitCode
    std::string message;      // what went wrong, naming the record and where it starts
    u32 records = 0;
    u32 files = 0;
    u32 directories = 0;
    u32 kept = 0;
    u32 refusable = 0;        // records extract would refuse: outside the tree, devices
    u64 bytes = 0;            // uncompressed bytes of the files walked
    std::vector<std::string> warnings;
};

class ArchiveReader {
public:
    // archive: an installer (archive appended, or disk1.pak beside it) or a disk1.pak;
    // later volumes are looked for in volumesDir first, then beside the archive. Fails
    // with EXIT_USAGE or EXIT_IO when the archive cannot be opened, EXIT_DAMAGED when
    // volume 1 is missing.
    ArchiveReader(const std::string& archive, const std::string& volumesDir);
    // An archive in the files given, whatever their names: what a pack has just written.
    // volumes[0] is the installer when embedded, else disk1.pak.
    ArchiveReader(const std::vector<VolumeFile>& volumes, bool embedded);
    ~ArchiveReader();

    // Reads the header and the string block with OpenArchive. Fails with EXIT_DAMAGED.
    void Open();

    bool Embedded() const { return embedded_; }
    const std::string& Archive() const { return archive_; }
    const std::vector<VolumeFile>& Volumes() const { return volumes_; }
    const ArchiveHeader& Header() const;
    // String block entries as stored. Fixed entry n (1..5).
    std::string Entry(u32 n) const;
    std::string GroupItemTitle(u32 item) const;  // item from 1
    std::string GroupItemPath(u32 item) const;
    // As LookupMessage gives it: id 120 unshifted, a missing id as message 14.
    std::string Message(int id) const;
    bool StringBlockSound() const;
    // The string block's extension, read by the core: whether a sound trailer ends the
    // block, its entries as stored ("key=value") in order, and the value the core gives
    // for key (false when absent).
    bool HasExtension() const;
    std::vector<std::string> ExtensionEntries() const;
    bool Extension(const std::string& key, std::string& value) const;
    // The block's last entry as stored (where a trailer would be); "" for an empty block.
    std::string LastEntry() const;
    // Entry 3 as the installer would make it with ProgramFilesDir C:\Program Files.
    std::string DefaultInstallDir() const;

    // Runs the worker over the record stream (opening the archive afresh when it has run
    // before). Never throws for damage: the result carries the exit code and message.
    WalkResult Walk(const WalkSettings& settings);

private:
    void CheckVolumeSizes();
    void SetVolumes() const;
    std::string VolumeName(u32 volume) const;
    std::string Where(u32 volume, u64 offset) const;
    void Position(u32& volume, u64& offset) const;

    std::string archive_;
    std::string volumesDir_;
    bool embedded_ = false;
    std::vector<VolumeFile> volumes_;
    std::unique_ptr<ScratchDir> scratch_;  // the empty folder a walk that writes nothing runs in
    bool walked_ = false;  // the worker leaves the install context used
    friend class StreamWatcher;
};

#endif
