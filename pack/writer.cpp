#include "writer.h"

#include <cstdio>
#include <cstring>

#include "lzari_encoder.h"
#include "../archive/messages.h"

const MessageList& EnglishMessages()
{
    static const MessageList texts = {{
        "Attention", "Cancel", "Select directory", "Browse...", "Exit",
        "Can't read disk %s", "Can't open directory %s", "Can't create directory %s", "OK",
        "Can't open file %s", "Error writing into file %s", "Confirmation", "Break",
        "System error", "Can't run process %s", "Error reading file %s", "Error",
        "Directory of install", "Create folder", "Required %lu Kbytes", "Quillstead",
        "Break installation?", "Are not you going to install?", "Install complete succesfully",
        "Insert disk %i", "Wrong structure of archive %s", "",
        "You have %lu kbytes free space, but need %lu kbytes.",
    }};
    return texts;
}

int MessageIdAt(u32 index)
{
    return index < 17 ? (int)index + 1 : (int)index + 94;
}

static void AppendEntry(std::vector<u8>& block, const std::string& text)
{
    block.insert(block.end(), text.begin(), text.end());
    block.push_back(0);
}

std::vector<u8> BuildStringBlock(const StringBlockContent& content, ArchiveHeader& header)
{
    std::vector<u8> block;
    AppendEntry(block, content.productTitle);
    AppendEntry(block, content.windowTitle);
    AppendEntry(block, content.installDir);
    AppendEntry(block, content.postInstall);
    header.groupItemCount = (u16)content.groupItems.size();
    header.groupItemsOffset = 0;
    if (!content.groupItems.empty()) {
        AppendEntry(block, content.groupName);
        header.groupItemsOffset = (u32)block.size();
        for (const auto& item : content.groupItems) {
            AppendEntry(block, item.first);
            AppendEntry(block, item.second);
        }
    }
    header.messagesOffset = (u32)block.size();
    for (u32 i = 0; i < MESSAGE_COUNT; i++) {
        std::string text = content.messages[i];
        if (MessageIdAt(i) == SHIFTED_MESSAGE)
            for (char& c : text)
                c = (char)(u8)((u8)c + MESSAGE_SHIFT);
        AppendEntry(block, text);
    }
    if (!content.extension.empty()) {
        u32 first = (u32)block.size();
        for (const auto& entry : content.extension)
            AppendEntry(block, entry.first + "=" + entry.second);
        char trailer[EXTENSION_TRAILER_SIZE];
        snprintf(trailer, sizeof(trailer), EXTENSION_TRAILER_TAG "%08X", (unsigned)first);
        AppendEntry(block, trailer);
    }
    header.stringBlockSize = (u32)block.size();
    return block;
}

void RecordWriter::Header(u8 type, u32 attributes, u64 fileTime, u16 nameLength)
{
    RecordHeader record;
    record.type = type;
    record.attributes = attributes;
    record.fileTime = fileTime;
    record.nameLength = nameLength;
    const u8* raw = reinterpret_cast<const u8*>(&record);
    bytes_.insert(bytes_.end(), raw, raw + sizeof(record));
}

void RecordWriter::Directory(const std::string& name)
{
    Header(RECORD_DIRECTORY, 0, 0, (u16)name.size());
    bytes_.insert(bytes_.end(), name.begin(), name.end());
}

void RecordWriter::Up()
{
    Header(RECORD_UP, 0, 0, 0);
}

void RecordWriter::File(const std::string& name, const std::vector<u8>& data, u32 attributes, u64 fileTime)
{
    File(name, data.data(), data.size(), attributes, fileTime);
}

void RecordWriter::File(const std::string& name, const u8* data, size_t size, u32 attributes, u64 fileTime)
{
    Header(RECORD_FILE, attributes, fileTime, (u16)name.size());
    bytes_.insert(bytes_.end(), name.begin(), name.end());
    LzariEncodePayload(data, size, bytes_);
    totalSize_ += size;
}

void RecordWriter::FileStream(const std::string& name, u64 size, u32 attributes, u64 fileTime,
                              const LzariRead& read, const LzariWrite& write, LzariEffort effort)
{
    Header(RECORD_FILE, attributes, fileTime, (u16)name.size());
    bytes_.insert(bytes_.end(), name.begin(), name.end());
    write(bytes_.data(), bytes_.size());
    bytes_.clear();
    LzariEncodeStream(size, read, write, effort);
    totalSize_ += size;
}

std::vector<u8> RecordWriter::Take()
{
    std::vector<u8> taken;
    taken.swap(bytes_);
    return taken;
}

void RecordWriter::End()
{
    Header(RECORD_END, 0, 0, 0);
}

void RecordWriter::Raw(const std::vector<u8>& bytes)
{
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

std::vector<u8> ArchiveStart(ArchiveHeader& header, const StringBlockContent& content)
{
    std::vector<u8> block = BuildStringBlock(content, header);
    const u8* raw = reinterpret_cast<const u8*>(&header);
    std::vector<u8> start;
    start.reserve(sizeof(header) + block.size());
    start.insert(start.end(), raw, raw + sizeof(header));
    start.insert(start.end(), block.begin(), block.end());
    return start;
}

std::vector<u8> JoinArchive(ArchiveHeader header, const StringBlockContent& content,
                            const std::vector<u8>& records)
{
    std::vector<u8> archive = ArchiveStart(header, content);
    archive.insert(archive.end(), records.begin(), records.end());
    return archive;
}

std::vector<u8> OneFileArchive(const std::vector<u8>& payload, u32 totalSize, const StringBlockContent& content)
{
    RecordWriter records;
    records.Header(RECORD_FILE, ATTRIBUTE_ARCHIVE, 0, 1);
    records.Raw({'f'});
    records.Raw(payload);
    records.End();
    ArchiveHeader header{};
    header.totalSize = totalSize;
    return JoinArchive(header, content, records.Bytes());
}
