// Start-up: locating the archive, its header and string block, the default install
// directory, the message lookup and the bounded text helpers it relies on.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include "archive/archive.h"
#include "archive/context.h"
#include "archive/messages.h"
#include "archive/text.h"
#include "harness.h"

namespace {

Bytes EmptyStreamArchive(StringBlockContent content = {})
{
    RecordWriter records;
    records.End();
    return MakeArchive(records, content);
}

std::string Lookup(int id, u32 capacity = TEXT_SIZE)
{
    char text[TEXT_SIZE];
    return LookupMessage(id, text, capacity);
}

}  // namespace

TEST(OpenArchive, AppendedOnlyPastTheArchiveOffset)
{
    TempDir dir;
    Bytes archive = EmptyStreamArchive();
    // Exactly 0xE000 bytes: no appended archive, so disk1.pak beside it is used.
    std::string program = dir / "setup.exe";
    WriteBytes(program, Bytes(ARCHIVE_OFFSET, 0));
    WriteBytes(dir / "disk1.pak", archive);
    ASSERT_EQ(1, OpenAt(program));
    EXPECT_EQ(0u, context.embedded);
    EXPECT_EQ(ToWindowsPath(dir / "disk1.pak"), firstVolumePath);
    EXPECT_EQ(ToWindowsPath(dir.Path()), archiveDir);
    EXPECT_EQ(ToWindowsPath(dir.Path()), programDir);

    // One byte more and the file carries its archive: a 1-byte archive has no header.
    WriteBytes(program, Bytes(ARCHIVE_OFFSET + 1, 0));
    EXPECT_EQ(0, OpenAt(program));
    EXPECT_EQ(std::vector<std::string>{TEXT_READING_HEADER}, BoxTexts());
    EXPECT_EQ(TEXT_ERROR_CAPTION, EventsOf(HostEvent::MESSAGE_BOX)[0].caption);
    EXPECT_TRUE(Host().openFiles.empty());

    WriteInstaller(dir.Path(), archive);
    ASSERT_EQ(1, OpenAt(program));
    EXPECT_EQ(1u, context.embedded);
    EXPECT_EQ(ARCHIVE_OFFSET + archive.size(), context.programFileSize);
    EXPECT_EQ(ToWindowsPath(program), firstVolumePath);
    EXPECT_STREQ("Test Product", productTitle);
    EXPECT_STREQ("Test Product Setup", windowTitle);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST(OpenArchive, AGivenFileIsVolumeOneWhateverItsSizeAndName)
{
    // The tools' entry: a volume larger than 0xE000 is still read from its first byte,
    // and a stray disk2.pak beside it is not taken when the host names the volumes.
    TempDir dir;
    Bytes content = RandomBytes(ARCHIVE_OFFSET + 5000, 7);
    RecordWriter records;
    records.File("big.bin", content);
    records.End();
    Bytes archive = MakeArchive(records);
    size_t cut = archive.size() - 100;
    mkdir((dir / "sets").c_str(), 0777);
    WriteBytes(dir / "first.part", Bytes(archive.begin(), archive.begin() + cut));
    WriteBytes(dir / "second.part", Bytes(archive.begin() + cut, archive.end()));
    WriteBytes(dir / "disk2.pak", Bytes(100, 0xAB));  // not part of this archive

    ResetHost();
    Host().volumes = {dir / "first.part", dir / "second.part"};
    ASSERT_EQ(1, OpenArchiveFile(ToWindowsPath(dir / "first.part").c_str(), 0));
    EXPECT_EQ(0u, context.embedded);
    EXPECT_STREQ("Test Product", productTitle);
    TempDir target;
    EXPECT_EQ(0u, ExtractInto(target.Path()));
    EXPECT_EQ(content, ReadBytes(target / "big.bin"));
    ASSERT_EQ(1u, EventsOf(HostEvent::OPEN_FILE).size());
    EXPECT_EQ(1u, EventsOf(HostEvent::OPEN_FILE)[0].value);

    // Embedded: the archive starts at 0xE000 of the file given.
    std::string program = WriteInstaller(dir / "sets", archive);
    ResetHost();
    ASSERT_EQ(1, OpenArchiveFile(ToWindowsPath(program).c_str(), 1));
    EXPECT_EQ(1u, context.embedded);
    ResetHost();
    EXPECT_EQ(0, OpenArchiveFile(ToWindowsPath(dir / "none.exe").c_str(), 1));
    EXPECT_EQ("Don't open " + ToWindowsPath(dir / "none.exe"), BoxTexts().back());
}

TEST(OpenArchive, StartupFailuresAreReportedWithTheFixedTexts)
{
    TempDir dir;
    EXPECT_EQ(0, OpenAt(dir / "missing.exe"));
    ASSERT_EQ(1u, BoxTexts().size());
    EXPECT_EQ("Don't open " + ToWindowsPath(dir / "missing.exe"), BoxTexts()[0]);

    // A string block that claims more than the file holds: refused before allocating.
    Bytes archive = EmptyStreamArchive();
    ArchiveHeader header;
    std::memcpy(&header, archive.data(), sizeof(header));
    for (u32 size : {0xFFFFFFFFu, 0xFFFFFFF0u, (u32)archive.size()}) {
        header.stringBlockSize = size;
        Bytes damaged = archive;
        std::memcpy(damaged.data(), &header, sizeof(header));
        std::string program = WriteInstaller(dir.Path(), damaged);
        EXPECT_EQ(0, OpenAt(program)) << size;
        EXPECT_EQ(std::vector<std::string>{TEXT_READING_RESOURCE}, BoxTexts()) << size;
        EXPECT_EQ(nullptr, context.stringBlock);
        EXPECT_TRUE(Host().openFiles.empty()) << size;
        EXPECT_TRUE(Host().liveBlocks.empty()) << size;
    }
}

TEST(OpenArchive, MissingFirstVolumeIsAskedFor)
{
    TempDir dir, elsewhere;
    std::string program = dir / "setup.exe";
    WriteBytes(program, Bytes(100, 0));
    // Cancelled: failure without a further message.
    EXPECT_EQ(0, OpenAt(program));
    auto asked = EventsOf(HostEvent::OPEN_FILE);
    ASSERT_EQ(1u, asked.size());
    EXPECT_EQ("disk1.pak", asked[0].text);
    EXPECT_EQ("Archive Files (disk1.pak)", asked[0].caption);
    EXPECT_TRUE(BoxTexts().empty());

    // Chosen elsewhere: it becomes volume 1, later volumes are still looked for beside
    // the program.
    WriteBytes(elsewhere / "disk1.pak", EmptyStreamArchive());
    ResetHost();
    Host().programPath = program;
    Host().openFile = [&](const std::string&) { return std::optional<std::string>(elsewhere / "disk1.pak"); };
    ASSERT_EQ(1, OpenArchive());
    EXPECT_EQ(ToWindowsPath(elsewhere / "disk1.pak"), firstVolumePath);
    EXPECT_EQ(ToWindowsPath(dir.Path()), archiveDir);
}

TEST(OpenArchive, DefaultInstallDirectory)
{
    char out[TEXT_SIZE];
    DefaultInstallDirectory("D:\\Tools\\Viewer", "C:\\Program Files", out);
    EXPECT_STREQ("D:\\Tools\\Viewer", out);
    DefaultInstallDirectory("\\Tools\\Viewer", "C:\\Program Files", out);
    EXPECT_STREQ("C:\\Program Files\\Tools\\Viewer", out);
    DefaultInstallDirectory("Tools\\Viewer", "C:\\Program Files", out);
    EXPECT_STREQ("C:\\Program Files\\Tools\\Viewer", out);
    DefaultInstallDirectory("Tools\\Viewer", "C:\\Program Files\\", out);
    EXPECT_STREQ("C:\\Program Files\\Tools\\Viewer", out);
    DefaultInstallDirectory("Tools\\Viewer", nullptr, out);
    EXPECT_STREQ("c:\\Tools\\Viewer", out);
    DefaultInstallDirectory("", "C:\\Program Files", out);
    EXPECT_STREQ("C:\\Program Files\\", out);
    // Too long for the buffer: cut, never overrun.
    std::string longEntry(TEXT_SIZE + 100, 'x');
    DefaultInstallDirectory(longEntry.c_str(), "C:\\Program Files", out);
    EXPECT_EQ(TEXT_SIZE - 1, std::strlen(out));

    // Through OpenArchive, with and without the registry value.
    TempDir dir;
    StringBlockContent content;
    content.installDir = "Tools\\Viewer";
    std::string program = WriteInstaller(dir.Path(), EmptyStreamArchive(content));
    ResetHost();
    Host().programPath = program;
    Host().programFilesDir = "C:\\Programme\\";
    ASSERT_EQ(1, OpenArchive());
    EXPECT_STREQ("C:\\Programme\\Tools\\Viewer", context.installDir);
    ASSERT_EQ(1, OpenAt(program));
    EXPECT_STREQ("c:\\Tools\\Viewer", context.installDir);
}

TEST(StringBlock, NthStringCountsEveryNulAndStopsAtTheEnd)
{
    const char block[] = "one\0\0three\0four";  // the guard NUL is the literal's own
    const char* end = block + sizeof(block) - 1;
    EXPECT_EQ(block, NthString(block, end, 0));
    EXPECT_EQ(block, NthString(block, end, 1));
    EXPECT_STREQ("", NthString(block, end, 2));
    EXPECT_STREQ("three", NthString(block, end, 3));
    EXPECT_STREQ("four", NthString(block, end, 4));
    EXPECT_EQ(end, NthString(block, end, 5));
    EXPECT_EQ(end, NthString(block, end, 1000));
}

TEST(StringBlock, SoundnessCheck)
{
    ArchiveHeader header{};
    StringBlockContent content;
    content.productTitle = "P";
    Bytes block = BuildStringBlock(content, header);
    const char* text = reinterpret_cast<const char*>(block.data());
    EXPECT_TRUE(StringBlockIsSound(text, (u32)block.size(), &header));
    // Without its final NUL, or with the message list cut short.
    EXPECT_FALSE(StringBlockIsSound(text, (u32)block.size() - 1, &header));
    EXPECT_FALSE(StringBlockIsSound(text, header.messagesOffset + 10, &header));
    ArchiveHeader moved = header;
    moved.messagesOffset = (u32)block.size();
    EXPECT_FALSE(StringBlockIsSound(text, (u32)block.size(), &moved));
    ArchiveHeader grouped = header;
    grouped.groupItemCount = 1;
    grouped.groupItemsOffset = 0xFFFFFF;
    EXPECT_FALSE(StringBlockIsSound(text, (u32)block.size(), &grouped));
}

TEST(Messages, LookupByIdWithFallbackAndShift)
{
    TempDir dir;
    StringBlockContent content;
    content.messages[MessageEntry(MSG_TOP_LINE) - 1] = "AA";
    content.messages[MessageEntry(MSG_ERROR) - 1] = "Error %s";  // shown as stored
    ASSERT_EQ(1, OpenAt(WriteInstaller(dir.Path(), EmptyStreamArchive(content))));
    for (int id : {0, -5, 18, 110, 122, 1000})
        EXPECT_EQ("System error", Lookup(id)) << id;
    EXPECT_EQ("Attention", Lookup(1));
    EXPECT_EQ("Error %s", Lookup(17));
    EXPECT_EQ("Directory of install", Lookup(111));
    EXPECT_EQ("You have %lu kbytes free space, but need %lu kbytes.", Lookup(121));
    EXPECT_EQ("Wrong structure of archive %s", Lookup(119));
    EXPECT_EQ("AA", Lookup(120));
    // The capacity is respected: cut with its terminator inside.
    char small[8];
    std::memset(small, 'x', sizeof(small));
    LookupMessage(121, small, 6);
    EXPECT_STREQ("You h", small);
    EXPECT_EQ('x', small[6]);

    // A box's texts: without arguments the message as stored, with them formatted; the
    // caption looked up by its own id, a shifted one restored.
    MessageTexts box;
    EXPECT_STREQ("Error %s", ComposeMessage(&box, MSG_ERROR, nullptr, 0, MSG_ATTENTION));
    EXPECT_STREQ("Attention", box.caption);
    FormatArgument name = {"a.txt", 0};
    EXPECT_STREQ("Error a.txt", ComposeMessage(&box, MSG_ERROR, &name, 1, MSG_TOP_LINE));
    EXPECT_STREQ("AA", box.caption);
}

TEST(Messages, StoredFormOfTheShiftedMessage)
{
    ArchiveHeader header{};
    StringBlockContent content;
    content.messages[MessageEntry(MSG_TOP_LINE) - 1] = "AA";
    Bytes block = BuildStringBlock(content, header);
    const char* text = reinterpret_cast<const char*>(block.data());
    const char* stored = NthString(text + header.messagesOffset, text + block.size(), MessageEntry(MSG_TOP_LINE));
    EXPECT_EQ(std::string("\x51\x51"), stored);
    EXPECT_STREQ("Wrong structure of archive %s",
                 NthString(text + header.messagesOffset, text + block.size(), MessageEntry(MSG_WRONG_STRUCTURE)));
}

TEST(Messages, ShortOrUnterminatedBlocksYieldEmptyTexts)
{
    TempDir dir;
    // A block that ends inside message 5 and without a final NUL: later ids are empty,
    // and nothing is read past the block (AddressSanitizer watches this test).
    ArchiveHeader header{};
    StringBlockContent content;
    Bytes block = BuildStringBlock(content, header);
    u32 cut = header.messagesOffset + 40;
    RecordWriter records;
    records.End();
    Bytes archive(sizeof(header));
    header.stringBlockSize = cut;
    std::memcpy(archive.data(), &header, sizeof(header));
    archive.insert(archive.end(), block.begin(), block.begin() + cut);
    archive.insert(archive.end(), records.Bytes().begin(), records.Bytes().end());
    ASSERT_EQ(1, OpenAt(WriteInstaller(dir.Path(), archive)));
    EXPECT_EQ("Attention", Lookup(1));
    EXPECT_EQ("", Lookup(121));
    EXPECT_EQ("", Lookup(120));
    EXPECT_EQ("", Lookup(999));
}

TEST(Text, FormatSubstitutesOnlyTheKnownPlaceholders)
{
    char out[TEXT_SIZE];
    FormatArgument two[] = {{nullptr, 12}, {nullptr, 3456}};
    FormatText(out, TEXT_SIZE, "You have %lu kbytes free space, but need %lu kbytes.", two, 2);
    EXPECT_STREQ("You have 12 kbytes free space, but need 3456 kbytes.", out);
    EXPECT_STREQ("Insert disk 2", FormatWithNumber(out, TEXT_SIZE, "Insert disk %i", 2));
    EXPECT_STREQ("Can't open file a.txt", FormatWithText(out, TEXT_SIZE, "Can't open file %s", "a.txt"));
    // Wrong kinds and missing arguments print nothing; unknown conversions stay literal.
    EXPECT_STREQ("x  y", FormatWithNumber(out, TEXT_SIZE, "x %s y", 5));
    EXPECT_STREQ("a z b", FormatWithText(out, TEXT_SIZE, "a %s%s b", "z"));
    EXPECT_STREQ("[%ld|%l]", FormatWithText(out, TEXT_SIZE, "[%i%ld|%l]", "t"));
    EXPECT_STREQ("100% %n %x 4294967295", FormatWithNumber(out, TEXT_SIZE, "100%% %n %x %lu", 0xFFFFFFFF));
    // A %% takes no argument, even before a conversion letter; a last lone % stays.
    EXPECT_STREQ("%s a% 50%", FormatWithText(out, TEXT_SIZE, "%%s %s%% 50%", "a"));
    // Cut at the capacity, terminated.
    std::string longText(300, 'y');
    FormatWithText(out, 10, "%s!", longText.c_str());
    EXPECT_STREQ("yyyyyyyyy", out);
    EXPECT_STREQ("abc", CopyText(out, "abc", 4));
    EXPECT_STREQ("ab", CopyText(out, "abc", 3));
    EXPECT_STREQ("abcd", AppendText(out, "cdef", 5));
}
