// The string block's extension as the writer puts it behind the lists and as the core's
// one reader finds it again; and blocks that only look as if they carried one.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "archive/context.h"
#include "archive/extension.h"
#include "archive/messages.h"
#include "harness.h"
#include "test_quill_support.h"

namespace {

StringBlockContent Grouped()
{
    StringBlockContent content;
    content.productTitle = "Viewer";
    content.windowTitle = "Viewer Setup";
    content.installDir = "Example\\Viewer";
    content.groupName = "Viewer";
    content.groupItems = {{"Viewer", "\\viewer.exe"}, {"Read me", "\\readme.txt"}};
    content.messages[MessageEntry(SHIFTED_MESSAGE) - 1] = "Shifted";
    return content;
}

const char* Text(const Bytes& block)
{
    return reinterpret_cast<const char*>(block.data());
}

std::string Value(const Bytes& block, const char* key)
{
    const char* value = ExtensionValueIn(Text(block), (u32)block.size(), key);
    return value ? value : "(absent)";
}

// A block whose last entry is the given text, as a damaged or hand-made one may be.
Bytes WithLastEntry(Bytes block, const std::string& entry)
{
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back(0);
    return block;
}

std::string Trailer(u32 offset, const char* format = "QSXT%08X")
{
    char text[32];
    snprintf(text, sizeof(text), format, (unsigned)offset);
    return text;
}

}  // namespace

TEST(QuillExtension, WrittenBehindTheListsAndReadBack)
{
    StringBlockContent content = Grouped();
    ArchiveHeader plainHeader{}, header{};
    Bytes plain = BuildStringBlock(content, plainHeader);
    content.extension = {{"codepage", "1251"}, {"uninstall.id", "ExampleViewer"}, {"text.200", "Uninstall %s"},
                         {"uninstall.id", "Second"}, {"empty", ""}};
    Bytes block = BuildStringBlock(content, header);

    // The lists stay where they were; the entries start where the old block ended.
    ASSERT_GT(block.size(), plain.size());
    EXPECT_EQ(0, memcmp(plain.data(), block.data(), plain.size()));
    // Copies: the packed header's fields may not be bound to references.
    EXPECT_EQ(u32(plainHeader.groupItemsOffset), u32(header.groupItemsOffset));
    EXPECT_EQ(u32(plainHeader.messagesOffset), u32(header.messagesOffset));
    EXPECT_EQ(u32(plainHeader.groupItemCount), u32(header.groupItemCount));
    EXPECT_EQ(block.size(), size_t(header.stringBlockSize));
    EXPECT_EQ(plain.size(), FindExtension(Text(block), (u32)block.size()));
    std::string last(Text(block) + block.size() - EXTENSION_TRAILER_SIZE);
    EXPECT_EQ(Trailer((u32)plain.size()), last);

    EXPECT_EQ("1251", Value(block, KEY_CODEPAGE));
    EXPECT_EQ("ExampleViewer", Value(block, KEY_UNINSTALL_ID));  // the first of a key counts
    EXPECT_EQ("", Value(block, "empty"));
    EXPECT_EQ("(absent)", Value(block, KEY_UNINSTALL_URL));
    EXPECT_EQ("(absent)", Value(block, "uninstall"));  // a key's prefix is not the key
    EXPECT_EQ("(absent)", Value(block, "QSXT"));       // the trailer is no entry
    EXPECT_STREQ("Uninstall %s", ExtensionTextIn(Text(block), (u32)block.size(), 200));
    EXPECT_EQ(nullptr, ExtensionTextIn(Text(block), (u32)block.size(), 201));
    EXPECT_EQ(1251u, ExtensionNumber(ExtensionValueIn(Text(block), (u32)block.size(), KEY_CODEPAGE)));

    // The Parts' reading rules still find every list, and id 120 is stored shifted.
    EXPECT_TRUE(StringBlockIsSound(Text(block), (u32)block.size(), &header));
    const char* end = Text(block) + block.size();
    EXPECT_STREQ("Read me", NthString(Text(block) + header.groupItemsOffset, end, 3));
    EXPECT_STREQ(content.messages[MESSAGE_COUNT - 1].c_str(), NthString(Text(block) + header.messagesOffset, end, 28));
}

TEST(QuillExtension, NoEntriesNoTrailer)
{
    StringBlockContent content = Grouped();
    ArchiveHeader header{};
    Bytes block = BuildStringBlock(content, header);
    EXPECT_EQ(0u, FindExtension(Text(block), (u32)block.size()));
    EXPECT_EQ(nullptr, ExtensionValueIn(Text(block), (u32)block.size(), KEY_CODEPAGE));
    // The block ends with message 121, as it always did.
    std::string last = content.messages[MESSAGE_COUNT - 1];
    EXPECT_EQ(last, std::string(Text(block) + block.size() - last.size() - 1));
    EXPECT_EQ(nullptr, ExtensionValueIn(nullptr, 0, KEY_CODEPAGE));
}

TEST(QuillExtension, LookAlikeBlocksAreRefused)
{
    // The entries' offset carries a hex letter, so that its case shows.
    StringBlockContent content = Grouped();
    ArchiveHeader header{};
    Bytes plain;
    for (; (plain = BuildStringBlock(content, header)).size() % 16 < 10;)
        content.messages[MESSAGE_COUNT - 1] += ".";
    u32 entries = (u32)plain.size();
    Bytes sound = WithLastEntry(WithLastEntry(plain, "codepage=1252"), Trailer(entries));
    ASSERT_EQ(entries, FindExtension(Text(sound), (u32)sound.size()));

    struct Case {
        const char* what;
        Bytes block;
    } cases[] = {
        // Message 121 of an older archive that happens to end like a trailer.
        {"a message ending in a trailer", WithLastEntry(Bytes(plain.begin(), plain.end() - 1), Trailer(entries))},
        {"lower-case hex", WithLastEntry(WithLastEntry(plain, "codepage=1252"), Trailer(entries, "QSXT%08x"))},
        {"an offset inside an entry", WithLastEntry(WithLastEntry(plain, "codepage=1252"), Trailer(entries + 3))},
        {"an offset past the trailer", WithLastEntry(WithLastEntry(plain, "codepage=1252"), Trailer(0x7FFFFFF))},
        {"offset 0", WithLastEntry(WithLastEntry(plain, "codepage=1252"), Trailer(0))},
        {"seven digits", WithLastEntry(WithLastEntry(plain, "codepage=1252"), Trailer(entries, "QSXT%07X"))},
        // The last letter as the byte that follows '9' by as much: digits end at '9'.
        {"a byte past '9'", WithLastEntry(WithLastEntry(plain, "codepage=1252"),
                                          Trailer(entries).substr(0, 11) + (char)(':' + entries % 16 - 10))},
        {"another tag", WithLastEntry(WithLastEntry(plain, "codepage=1252"), Trailer(entries, "QSXU%08X"))},
        {"another first letter", WithLastEntry(WithLastEntry(plain, "codepage=1252"), Trailer(entries, "PSXT%08X"))},
        {"a lower-case tag", WithLastEntry(WithLastEntry(plain, "codepage=1252"), Trailer(entries, "qsxt%08X"))},
        {"no final NUL", Bytes(sound.begin(), sound.end() - 1)},
        {"a block shorter than a trailer", Bytes(sound.end() - EXTENSION_TRAILER_SIZE + 1, sound.end())},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(0u, FindExtension(Text(c.block), (u32)c.block.size())) << c.what;
        EXPECT_EQ(nullptr, ExtensionValueIn(Text(c.block), (u32)c.block.size(), KEY_CODEPAGE)) << c.what;
    }
    // A trailer pointing at the block's own start has no NUL before its entries.
    Bytes whole = TextBytes(Trailer(0));
    whole.push_back(0);
    EXPECT_EQ(0u, FindExtension(Text(whole), (u32)whole.size()));
}

TEST(QuillExtension, AnInstallerOpensAnArchiveWithItAsAny)
{
    TempDir dir;
    StringBlockContent content = Grouped();
    content.extension = {{KEY_UNINSTALL_ID, "Viewer"}};
    RecordWriter records;
    records.File("a.txt", TextBytes("a"));
    records.End();
    ASSERT_EQ(1, OpenAt(WriteInstaller(dir.Path(), MakeArchive(records, content))));
    char text[TEXT_SIZE];
    EXPECT_STREQ("Shifted", LookupMessage(SHIFTED_MESSAGE, text, sizeof(text)));
    EXPECT_STREQ("You have %lu kbytes free space, but need %lu kbytes.", LookupMessage(121, text, sizeof(text)));
    EXPECT_STREQ("Viewer", ExtensionValue(KEY_UNINSTALL_ID));
    EXPECT_EQ(nullptr, ExtensionValue(KEY_GROUP_KIND));
    mkdir((dir / "out").c_str(), 0755);
    EXPECT_EQ(0u, ExtractInto(dir / "out"));
    EXPECT_EQ(TextBytes("a"), ReadTree(dir / "out").at("a.txt"));
    // Released at the program's end, the block is gone while the header still gives its size.
    FreeStringBlock();
    EXPECT_EQ(nullptr, ExtensionValue(KEY_UNINSTALL_ID));
    EXPECT_EQ(nullptr, ExtensionText(200));
}

// Which code page list, test and extract read names in, and that they say so when they
// had to assume one: an archive written before the extension names none.
TEST(QuillExtension, TheCodePageComesFromTheArchiveOrIsSaidToBeAssumed)
{
    TempDir dir;
    RecordWriter records;
    records.File("\xC4\xEE\xEA.txt", TextBytes("cp1251 name"));  // "Док" in 1251
    records.End();
    StringBlockContent named;
    named.extension = {{KEY_CODEPAGE, "1251"}};
    std::string old = WriteInstaller(dir.Path(), MakeArchive(records));
    mkdir((dir / "new").c_str(), 0755);
    std::string current = WriteInstaller(dir / "new", MakeArchive(records, named));

    QuillRun list = RunQuill({"list", current});
    EXPECT_NE(std::string::npos, list.out.find("code page     1251 (the archive's)")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("Док.txt")) << list.out;
    list = RunQuill({"list", old, "--json"});
    EXPECT_NE(std::string::npos, list.out.find("\"codePage\": 1252,\n  \"codePageFrom\": \"assumed\"")) << list.out;
    list = RunQuill({"list", current, "--codepage", "1252"});
    EXPECT_NE(std::string::npos, list.out.find("code page     1252 (--codepage)")) << list.out;

    QuillRun test = RunQuill({"test", old});
    EXPECT_EQ(0, test.code);
    EXPECT_NE(std::string::npos, test.err.find("names no code page: its names and texts are read in 1252 (assumed"))
        << test.err;
    test = RunQuill({"test", current});
    EXPECT_EQ(std::string::npos, test.err.find("assumed")) << test.err;
    QuillRun extract = RunQuill({"extract", current, "-d", dir / "out", "-q"});
    EXPECT_EQ(0, extract.code) << extract.err;
    EXPECT_EQ(TextBytes("cp1251 name"), ReadBytes(dir / "out/Док.txt"));
}
