// quill's checks on what goes into an archive: message placeholders and stored forms, the
// message sets, names as Windows needs them, code pages, sizes and times.
#include <gtest/gtest.h>

#include "archive/messages.h"
#include "codepage.h"
#include "files.h"
#include "message_sets.h"
#include "output.h"
#include "source_tree.h"

namespace {

TEST(QuillMessages, EveryShippedSetPassesItsOwnChecks)
{
    for (const MessageLanguage& language : MessageLanguages()) {
        CodePage codePage(language.codePage);
        MessageList texts = MessageSetUtf8(language.name);
        for (u32 i = 0; i < MESSAGE_COUNT; i++) {
            int id = MessageIdAt(i);
            SCOPED_TRACE(std::string(language.name) + " message " + std::to_string(id));
            EXPECT_EQ("", CheckMessagePlaceholders(id, texts[i]));
            std::string stored, bad;
            ASSERT_TRUE(codePage.Encode(texts[i], stored, bad)) << bad;
            EXPECT_EQ("", CheckStoredMessage(id, stored));
        }
        // Ids shown as captions and buttons must not be empty; only 120 is.
        EXPECT_EQ("", texts[MessageEntry(SHIFTED_MESSAGE) - 1]);
        EXPECT_NE("", texts[MessageEntry(MSG_BREAK) - 1]);
    }
}

TEST(QuillMessages, EnglishIsTheSystemsOwnText)
{
    MessageList english = MessageSetUtf8("english");
    EXPECT_EQ("Install complete succesfully", english[MessageEntry(MSG_INSTALL_COMPLETE) - 1]);
    EXPECT_EQ("Are not you going to install?", english[MessageEntry(MSG_QUIT_QUESTION) - 1]);
    EXPECT_EQ("You have %lu kbytes free space, but need %lu kbytes.",
              english[MessageEntry(MSG_NOT_ENOUGH_SPACE) - 1]);
}

TEST(QuillMessages, TranslationsAreStoredInTheirCodePages)
{
    CodePage western(1252), cyrillic(1251);
    std::string stored, bad;
    ASSERT_TRUE(western.Encode(MessageSetUtf8("german")[MessageEntry(MSG_CONFIRMATION) - 1], stored, bad));
    EXPECT_EQ("Best\xE4tigung", stored);
    ASSERT_TRUE(cyrillic.Encode(MessageSetUtf8("russian")[MessageEntry(MSG_ERROR) - 1], stored, bad));
    EXPECT_EQ("\xCE\xF8\xE8\xE1\xEA\xE0", stored);  // "Ошибка"
    EXPECT_FALSE(western.Encode(MessageSetUtf8("russian")[MessageEntry(MSG_ERROR) - 1], stored, bad));
}

TEST(QuillMessages, PlaceholdersMustMatchTheTable)
{
    struct Case {
        int id;
        const char* text;
        bool good;
    } cases[] = {
        {MSG_CANT_OPEN_FILE, "Cannot open %s", true},
        {MSG_CANT_OPEN_FILE, "Cannot open %lu", false},      // %lu where %s is due
        {MSG_CANT_OPEN_FILE, "Cannot open", false},          // missing
        {MSG_CANT_OPEN_FILE, "Cannot open %s or %s", false}, // extra
        {MSG_CANT_OPEN_FILE, "100% of %s", false},           // "% o" would be read as one
        {MSG_CANT_OPEN_FILE, "100%% of %s", true},
        {MSG_REQUIRED_SPACE, "Needs %lu KB", true},
        {MSG_REQUIRED_SPACE, "Needs %u KB", false},
        {MSG_REQUIRED_SPACE, "Needs %s KB", false},
        {MSG_INSERT_DISK, "Disk %i", true},
        {MSG_INSERT_DISK, "Disk %d", false},
        {MSG_NOT_ENOUGH_SPACE, "%lu free, %lu needed", true},
        {MSG_NOT_ENOUGH_SPACE, "%lu free", false},
        {MSG_NOT_ENOUGH_SPACE, "%lu free, %s needed", false},
        {MSG_ERROR, "Error", true},
        {MSG_ERROR, "Error %s", false},                      // shown unformatted: no %s
        {MSG_ERROR, "50% done", true},                       // a lone % is shown as it is
        {MSG_TOP_LINE, "%lu", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " \"" + c.text + "\"");
        EXPECT_EQ(c.good, CheckMessagePlaceholders(c.id, c.text).empty());
    }
    // Exit codes without a message entry (a break's 100 among them) carry no argument.
    for (int id : {0, 18, (int)WORKER_BROKEN, 110, 122})
        EXPECT_EQ(PLACEHOLDERS_NONE, MessagePlaceholders(id)) << id;
}

TEST(QuillMessages, StoredFormLimits)
{
    EXPECT_EQ("", CheckStoredMessage(MSG_ERROR, std::string(199, 'x')));
    EXPECT_NE("", CheckStoredMessage(MSG_ERROR, std::string(200, 'x')));
    // Raised by 16, byte 0xF0 (Cyrillic "р" in 1251) becomes a NUL and cuts the list.
    EXPECT_NE("", CheckStoredMessage(SHIFTED_MESSAGE, "\xEF\xF0"));
    EXPECT_EQ("", CheckStoredMessage(SHIFTED_MESSAGE, "\xEF\xEF"));
    EXPECT_EQ("", CheckStoredMessage(MSG_ERROR, "\xF0"));
}

TEST(QuillNames, WhatWindowsRefuses)
{
    for (const char* good : {"readme.txt", "a", "CONFIG.SYS", "com10", "console", "LPT0.txt", ".hidden",
                             "na\xEFve", "a b"})
        EXPECT_EQ("", CheckStoredName(good)) << good;
    for (const char* bad : {"", "a\\b", "a/b", "c:x", "a*", "a?", "a\"b", "a<b", "a>b", "a|b", "tab\tname",
                            "ends.", "ends ", "CON", "con.txt", "Nul", "aux.dat.bak", "COM1", "lpt9.prn",
                            "CLOCK$", "PRN .txt"})
        EXPECT_NE("", CheckStoredName(bad)) << bad;
    EXPECT_EQ("", CheckStoredName(std::string(255, 'n')));
    EXPECT_NE("", CheckStoredName(std::string(256, 'n')));
}

TEST(QuillCodePages, EncodeDecodeAndMissingCharacters)
{
    CodePage western(1252), cyrillic(1251);
    std::string out, bad;
    ASSERT_TRUE(western.Encode("Café €", out, bad));
    EXPECT_EQ("Caf\xE9 \x80", out);
    ASSERT_TRUE(cyrillic.Encode("Жук", out, bad));
    EXPECT_EQ("\xC6\xF3\xEA", out);
    EXPECT_FALSE(western.Encode("Жук", out, bad));
    EXPECT_NE(std::string::npos, bad.find("U+0416"));
    EXPECT_FALSE(western.Encode("bad \xFF utf-8", out, bad));
    // 0x81 has no character in 1252: shown as U+FFFD, and reported.
    EXPECT_FALSE(western.Decode("a\x81", out));
    EXPECT_EQ("a\xEF\xBF\xBD", out);
    ASSERT_TRUE(cyrillic.Decode("\xC6\xF3\xEA", out));
    EXPECT_EQ("Жук", out);
    EXPECT_FALSE(CodePage::Supported(65001));
    EXPECT_FALSE(CodePage::Supported(437));
}

TEST(QuillCodePages, CaseFoldingFindsWindowsDuplicates)
{
    EXPECT_EQ(FoldCase("Readme.TXT"), FoldCase("README.txt"));
    EXPECT_EQ(FoldCase("Äpfel"), FoldCase("äpfel"));
    EXPECT_EQ(FoldCase("ЖУК"), FoldCase("жук"));
    EXPECT_NE(FoldCase("a"), FoldCase("b"));
}

TEST(QuillSizes, VolumeSizes)
{
    auto parse = [](const char* text) {
        u64 size = 12;
        return ParseSize(text, size) ? size : 12;  // 12: refused
    };
    EXPECT_EQ(1457664u, parse("1.44M"));
    EXPECT_EQ(737280u, parse("720K"));
    EXPECT_EQ(65536u, parse("64K"));
    EXPECT_EQ(2097152u, parse("2M"));
    EXPECT_EQ(12345u, parse("12345"));
    EXPECT_EQ(0u, parse("0M"));
    // Past 64 bits a size saturates instead of wrapping to 1 MiB or a few bytes.
    EXPECT_EQ(UINT64_MAX, parse("17592186044417M"));
    EXPECT_EQ(UINT64_MAX, parse("18446744073709551617"));
    EXPECT_EQ(UINT64_MAX, parse("99999999999999999999999K"));
    for (const char* bad : {"", "K", "1.5M", "-3", "12Q", "0x100"})
        EXPECT_EQ(12u, parse(bad)) << bad;
}

// The pack hashes what it reads in the pieces read() gives, the verify what the worker
// writes in pieces of 65535 bytes: the value must not depend on the cut, and must see
// every byte and the length.
TEST(QuillHash, ValueDoesNotDependOnHowTheBytesAreCut)
{
    std::vector<u8> data(100003);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (u8)(i * 131 + (i >> 9));
    ContentHash whole;
    whole.Add(data.data(), data.size());
    for (size_t piece : {1, 3, 7, 8, 65535}) {
        ContentHash cut;
        for (size_t at = 0; at < data.size(); at += piece)
            cut.Add(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(whole.Value(), cut.Value()) << piece;
    }
    ContentHash changed, shorter;
    data[77777] ^= 1;
    changed.Add(data.data(), data.size());
    shorter.Add(data.data(), data.size() - 1);
    EXPECT_NE(whole.Value(), changed.Value());
    EXPECT_NE(changed.Value(), shorter.Value());
}

TEST(QuillTimes, FileTimeConversions)
{
    // The format's example time stamp.
    EXPECT_EQ("1998-09-25 02:49:50", FormatFileTime(0x01bde82f29e19b00ull));
    u64 fileTime;
    ASSERT_TRUE(UnixToFileTime(906691790, 0, fileTime));
    EXPECT_EQ(0x01bde82f29e19b00ull, fileTime);
    ASSERT_TRUE(UnixToFileTime(0, 1234567, fileTime));
    EXPECT_EQ(116444736000012345ull, fileTime);  // 100 ns units; the rest is dropped
    int64_t seconds;
    long nanoseconds;
    FileTimeToUnix(116444736000012345ull, seconds, nanoseconds);
    EXPECT_EQ(0, seconds);
    EXPECT_EQ(1234500, nanoseconds);
    ASSERT_TRUE(UnixToFileTime(-11644473600, 0, fileTime));  // 1601 itself
    EXPECT_EQ(0u, fileTime);
    EXPECT_FALSE(UnixToFileTime(-11644473601, 0, fileTime));
}

}  // namespace
