// Writing archives (native tools and tests only): the string block and the record stream
// exactly as format.h draws them. The packer builds on this; the tests use it to make
// sound and deliberately damaged archives.
#ifndef QUILL_PACK_WRITER_H
#define QUILL_PACK_WRITER_H

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "../archive/format.h"
#include "lzari_encoder.h"

// The 28 message texts in list order (ids 1..17, then 111..121), as stored bytes except
// that id 120 is given plain: the writer shifts it.
typedef std::array<std::string, MESSAGE_COUNT> MessageList;

// The English message set.
const MessageList& EnglishMessages();
// Message id of list entry i (0-based).
int MessageIdAt(u32 index);

struct StringBlockContent {
    std::string productTitle;   // entry 1
    std::string windowTitle;    // entry 2
    std::string installDir;     // entry 3
    std::string postInstall;    // entry 4; empty: none
    std::string groupName;      // entry 5, written only with group items
    std::vector<std::pair<std::string, std::string>> groupItems;  // title, target path
    MessageList messages = EnglishMessages();
    // The extension's entries in order, key and stored value; none: the block as every
    // archive before the extension had it, byte for byte.
    std::vector<std::pair<std::string, std::string>> extension;
};

// Builds the string block and fills stringBlockSize, groupItemCount, groupItemsOffset and
// messagesOffset of header. With extension entries they follow the messages as
// "key=value", and the trailer naming the first one ends the block.
std::vector<u8> BuildStringBlock(const StringBlockContent& content, ArchiveHeader& header);

class RecordWriter {
public:
    void Directory(const std::string& name);
    void Up();
    // A file record with its payload; size counts into totalSize.
    void File(const std::string& name, const std::vector<u8>& data,
              u32 attributes = ATTRIBUTE_ARCHIVE, u64 fileTime = 0);
    // The same from memory the caller holds (a mapped file); size fits in a u32.
    void File(const std::string& name, const u8* data, size_t size, u32 attributes, u64 fileTime);
    // The same with the payload coded as a stream (LzariEncodeStream): the bytes held so
    // far, the record's header and name, then the payload piece by piece go to write, so
    // that nothing of the file is held in memory. Bytes() is empty afterwards.
    void FileStream(const std::string& name, u64 size, u32 attributes, u64 fileTime, const LzariRead& read,
                    const LzariWrite& write, LzariEffort effort = LZARI_NORMAL);
    void End();
    // Raw bytes, for damaged streams in tests.
    void Raw(const std::vector<u8>& bytes);
    void Header(u8 type, u32 attributes, u64 fileTime, u16 nameLength);

    const std::vector<u8>& Bytes() const { return bytes_; }
    // Hands over the bytes written so far and starts an empty buffer, so that a packer can
    // stream record by record; TotalSize keeps counting across calls.
    std::vector<u8> Take();
    u64 TotalSize() const { return totalSize_; }

private:
    std::vector<u8> bytes_;
    u64 totalSize_ = 0;
};

// Header and string block: the archive's first bytes, up to the record stream. Fills the
// string block fields of header as BuildStringBlock does.
std::vector<u8> ArchiveStart(ArchiveHeader& header, const StringBlockContent& content);

// Header, string block and record stream joined: the archive as it starts at 0xE000 of an
// installer or at 0 of disk1.pak. header's totalSize is taken as given.
std::vector<u8> JoinArchive(ArchiveHeader header, const StringBlockContent& content,
                            const std::vector<u8>& records);

// An archive of one file record "f" whose payload is given raw (size, bit stream and
// padding, or any bytes), with the header's totalSize: for benchmarks and fuzzing.
std::vector<u8> OneFileArchive(const std::vector<u8>& payload, u32 totalSize,
                               const StringBlockContent& content = StringBlockContent());

#endif
