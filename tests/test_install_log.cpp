// The install log's reader, natively: what the uninstaller will delete comes from here, so
// a sound log must read back exactly, and anything an install could not have written (a
// damaged line, a path out of the install directory, a device, the Windows folder, a key
// of someone else) must be refused as a whole, before anything is acted on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/install_log.h"

namespace {

const char* const WINDOWS = "C:\\Windows";

// A log's text: the BOM, the lines with CRLF.
std::string Log(const std::vector<std::string>& lines, bool bom = true)
{
    std::string text = bom ? "\xEF\xBB\xBF" : "";
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

std::vector<std::string> Head()
{
    return {"quillstead-install-log 1",
            "id ExampleViewer",
            "title Example Viewer",
            "program uninstall.exe",
            "key HKLM Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ExampleViewer",
            "directory C:\\Program Files\\Example\\Viewer",
            "created 2",
            "text 200 Uninstall %s",
            "text 201 Do you want to remove %s and all of its files?"};
}

std::vector<std::string> With(std::vector<std::string> lines, const std::vector<std::string>& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

struct Read {
    std::string bytes;  // the buffer the log's fields point into
    std::vector<InstallLogItem> entries;
    InstallLog log;
    InstallLogResult result;
};

// Parses text as the uninstaller does: a buffer of its own, entries as many as the bound.
Read Parse(const std::string& text, const char* windows = WINDOWS)
{
    Read r;
    r.bytes = text;
    u32 bound = InstallLogEntryBound(r.bytes.data(), (u32)r.bytes.size());
    r.entries.resize(bound + 1);
    r.result = ReadInstallLog(&r.bytes[0], (u32)r.bytes.size(), r.entries.data(), bound, windows, &r.log);
    return r;
}

int Problem(const std::vector<std::string>& lines)
{
    return Parse(Log(lines)).result.problem;
}

TEST(InstallLog, SoundLogReadsBackWhole)
{
    Read r = Parse(Log(With(Head(), {"folder docs", "file 1234 01D9C1E2A3B4C5D6 docs\\read me.txt",
                                     "file 0 01d9c1e2a3b4c5d7 uninstall.exe", "folder docs\\deep",
                                     "shortcut C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Viewer.lnk",
                                     "group-folder \\\\server\\profiles\\Start Menu\\Example",
                                     "dde-group Example Viewer", "complete"})));
    ASSERT_EQ(r.result.problem, LOG_SOUND) << InstallLogProblemText(r.result.problem) << " line " << r.result.line;
    const InstallLog& log = r.log;
    EXPECT_STREQ(log.id, "ExampleViewer");
    EXPECT_STREQ(log.title, "Example Viewer");
    EXPECT_STREQ(log.program, "uninstall.exe");
    EXPECT_STREQ(log.keyRoot, "HKLM");
    EXPECT_STREQ(log.key, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ExampleViewer");
    EXPECT_STREQ(log.directory, "C:\\Program Files\\Example\\Viewer");
    EXPECT_EQ(log.createdLevels, 2u);
    EXPECT_EQ(log.complete, 1u);
    EXPECT_STREQ(InstallLogText(&log, 200), "Uninstall %s");
    EXPECT_STREQ(InstallLogText(&log, 201), "Do you want to remove %s and all of its files?");
    EXPECT_EQ(InstallLogText(&log, 202), nullptr);
    EXPECT_EQ(InstallLogText(&log, 199), nullptr);
    ASSERT_EQ(log.entryCount, 7u);
    EXPECT_EQ(log.entries[0].kind, LOG_FOLDER);
    EXPECT_STREQ(log.entries[0].path, "docs");
    EXPECT_EQ(log.entries[0].line, 10u);
    EXPECT_EQ(log.entries[1].kind, LOG_FILE);
    EXPECT_EQ(log.entries[1].size, 1234u);
    EXPECT_EQ(log.entries[1].writeTime, 0x01D9C1E2A3B4C5D6ull);
    EXPECT_STREQ(log.entries[1].path, "docs\\read me.txt");  // the last field keeps its blanks
    EXPECT_EQ(log.entries[2].writeTime, 0x01D9C1E2A3B4C5D7ull);  // lower-case hex as well
    EXPECT_EQ(log.entries[4].kind, LOG_SHORTCUT);
    EXPECT_EQ(log.entries[5].kind, LOG_GROUP_FOLDER);
    EXPECT_EQ(log.entries[6].kind, LOG_DDE_GROUP);
    EXPECT_STREQ(log.entries[6].path, "Example Viewer");
    for (u32 i = 0; i < log.entryCount; i++)
        EXPECT_FALSE(log.entries[i].superseded);
}

TEST(InstallLog, BrokenOffInstallsAndTornLastLines)
{
    // No "complete": an install broken off, read all the same; no BOM is read too.
    Read plain = Parse(Log(With(Head(), {"file 5 0000000000000001 a.txt"}), false));
    ASSERT_EQ(plain.result.problem, LOG_SOUND);
    EXPECT_EQ(plain.log.complete, 0u);
    EXPECT_EQ(plain.log.entryCount, 1u);
    // A last line cut anywhere in its write, even inside the CRLF, is ignored whatever it holds.
    std::string whole = Log(With(Head(), {"file 5 0000000000000001 a.txt"}));
    for (const char* torn : {"file 7 00000000000", "garbage ..\\..\\x", "file 5 0000000000000002 b.txt\r",
                             "\xEF"}) {
        Read r = Parse(whole + torn);
        EXPECT_EQ(r.result.problem, LOG_SOUND) << torn;
        ASSERT_EQ(r.log.entryCount, 1u) << torn;
        EXPECT_STREQ(r.log.entries[0].path, "a.txt");
    }
    // A torn head is an incomplete head, not a log to act on.
    EXPECT_EQ(Parse(Log({"quillstead-install-log 1", "id ExampleViewer"}) + "title Exa").result.problem,
              LOG_INCOMPLETE_HEAD);
}

TEST(InstallLog, RepeatedPathsCountByTheirLastEntry)
{
    // An upgrade's log carries the earlier install's entries first.
    Read r = Parse(Log(With(Head(), {"folder docs", "file 10 0000000000000001 docs\\a.txt",
                                     "file 20 0000000000000002 b.txt", "folder Docs",
                                     "file 11 0000000000000003 DOCS\\A.TXT", "folder docs\\a.txt"})));
    ASSERT_EQ(r.result.problem, LOG_SOUND);
    std::vector<u32> scratch(2 * r.log.entryCount);
    InstallLogMarkRepeats(&r.log, scratch.data());
    std::vector<int> superseded;
    for (u32 i = 0; i < r.log.entryCount; i++)
        superseded.push_back(r.log.entries[i].superseded);
    // docs (folder) again later, docs\a.txt (file) again later; b.txt once; the folder
    // docs\a.txt is another kind than the file of that name.
    EXPECT_EQ(superseded, (std::vector<int>{1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(r.log.entries[4].size, 11u);
}

TEST(InstallLog, DamageIsRefusedWithItsLine)
{
    struct Case {
        std::string text;
        int problem;
        u32 line;
    };
    std::string head = Log(Head());
    const Case cases[] = {
        {"", LOG_NO_MAGIC, 0},
        {"\xEF\xBB\xBF", LOG_NO_MAGIC, 0},
        {"quillstead-install-log 1", LOG_NO_MAGIC, 0},  // only a torn first line
        {Log({"quillstead-install-log 2"}), LOG_NO_MAGIC, 1},
        {Log({"Quillstead-Install-Log 1"}), LOG_NO_MAGIC, 1},
        {"quillstead-install-log 1\n", LOG_NO_MAGIC, 1},
        {Log({"id ExampleViewer", "quillstead-install-log 1"}), LOG_NO_MAGIC, 1},
        {head + "registry HKLM x\r\n", LOG_UNKNOWN_TAG, 10},
        {head + "File 1 0000000000000001 a.txt\r\n", LOG_UNKNOWN_TAG, 10},
        {head + "file 1 0000000000000001 a.txt\n", LOG_MALFORMED, 10},  // LF alone
        {head + "folder\r\n", LOG_MALFORMED, 10},
        {head + "folder \r\n", LOG_MALFORMED, 10},
        {head + "\r\n", LOG_MALFORMED, 10},
        {head + "file 1 0000000000000001\r\n", LOG_MALFORMED, 10},
        {head + "file x1 0000000000000001 a.txt\r\n", LOG_MALFORMED, 10},
        {head + "file -1 0000000000000001 a.txt\r\n", LOG_MALFORMED, 10},
        {head + "file 1 000000000000001 a.txt\r\n", LOG_MALFORMED, 10},   // 15 digits
        {head + "file 1 0000000000000000G a.txt\r\n", LOG_MALFORMED, 10},
        {head + "file 1 00000000000000zz a.txt\r\n", LOG_MALFORMED, 10},
        {head + "file 4294967296 0000000000000001 a.txt\r\n", LOG_OUT_OF_RANGE, 10},
        {head + std::string("folder a\0b", 10) + "\r\n", LOG_MALFORMED, 10},
        {head + "folder a\rb\r\n", LOG_MALFORMED, 10},
        {head + "text 199 x\r\n", LOG_OUT_OF_RANGE, 10},
        {head + "text 300 x\r\n", LOG_OUT_OF_RANGE, 10},
        {head + "text 2x0 x\r\n", LOG_MALFORMED, 10},
        {head + "text 205\r\n", LOG_MALFORMED, 10},
        {head + "title Again\r\n", LOG_MALFORMED, 10},  // a head entry twice
        {head + "folder a\r\ntext 202 late\r\n", LOG_MALFORMED, 11},
        {head + "folder a\r\ncreated 1\r\n", LOG_MALFORMED, 11},
        {head + "folder " + std::string(INSTALL_LOG_PATH_SIZE, 'a') + "\r\n", LOG_OUT_OF_RANGE, 10},
        {head + "complete extra\r\n", LOG_UNKNOWN_TAG, 10},
    };
    for (const Case& c : cases) {
        Read r = Parse(c.text);
        EXPECT_EQ(r.result.problem, c.problem) << c.text;
        EXPECT_EQ(r.result.line, c.line) << c.text;
        // Nothing to act on is left behind a refusal.
        EXPECT_EQ(r.log.entryCount, 0u) << c.text;
        EXPECT_EQ(r.log.directory, nullptr) << c.text;
    }
    EXPECT_STRNE(InstallLogProblemText(LOG_MALFORMED), InstallLogProblemText(LOG_NO_MAGIC));
}

TEST(InstallLog, HeadMustBeWholeAndNameTheProductsOwnKey)
{
    // Each head entry left out in turn.
    std::vector<std::string> head = Head();
    for (size_t drop = 1; drop <= 6; drop++) {
        std::vector<std::string> lines = head;
        lines.erase(lines.begin() + drop);
        EXPECT_EQ(Problem(lines), LOG_INCOMPLETE_HEAD) << head[drop];
    }
    auto withKey = [&](const std::string& key) {
        std::vector<std::string> lines = head;
        lines[4] = "key " + key;
        return Problem(lines);
    };
    EXPECT_EQ(withKey("HKCU Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ExampleViewer"), LOG_SOUND);
    EXPECT_EQ(withKey("hkcu software\\microsoft\\windows\\currentversion\\uninstall\\exampleviewer"), LOG_SOUND);
    EXPECT_EQ(withKey("HKCR Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ExampleViewer"), LOG_BAD_KEY);
    EXPECT_EQ(withKey("HKLMX Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ExampleViewer"), LOG_BAD_KEY);
    EXPECT_EQ(withKey("HKLM Software\\Microsoft\\Windows\\CurrentVersion\\Run"), LOG_BAD_KEY);
    EXPECT_EQ(withKey("HKLM Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"), LOG_BAD_KEY);
    EXPECT_EQ(withKey("HKLM Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"), LOG_BAD_KEY);
    EXPECT_EQ(withKey("HKLM Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ExampleViewer\\x"), LOG_BAD_KEY);
    EXPECT_EQ(withKey("HKLM System\\CurrentControlSet\\Services\\ExampleViewer"), LOG_BAD_KEY);
    EXPECT_EQ(withKey("HKLM"), LOG_MALFORMED);
    // An id that is no key name; levels made that reach the drive's root.
    std::vector<std::string> lines = head;
    lines[1] = "id ..\\Run";
    EXPECT_EQ(Problem(lines), LOG_BAD_KEY);
    lines = head;
    lines[6] = "created 3";  // Program Files too, on a drive without one
    EXPECT_EQ(Problem(lines), LOG_SOUND);
    lines[6] = "created 4";
    EXPECT_EQ(Problem(lines), LOG_OUT_OF_RANGE);
    lines[6] = "created 4294967296";
    EXPECT_EQ(Problem(lines), LOG_OUT_OF_RANGE);
    lines[6] = "created 0";
    EXPECT_EQ(Problem(lines), LOG_SOUND);
}

TEST(InstallLog, RelativePathsStayInsideTheInstallDirectory)
{
    for (const char* bad : {"..", ".", "..\\..\\x", "docs\\..\\..\\x", "docs\\.\\a", "a\\..", ".\\a",
                            "\\Windows\\x", "C:\\x", "C:x", "c:", "a:b", "a/../../x", "a/b", "docs\\",
                            "docs\\\\a", "\\\\server\\share\\x", "a.", "a ", "docs.\\a", "a*", "a?b",
                            "a\"b", "a<b", "a>b", "a|b", "a\tb", "CON", "con", "nul.txt", "docs\\Aux.dat",
                            "PRN", "COM1", "com9.log", "LPT1", "lpt3.txt", "COM0", "CON .txt", "conin$",
                            "CONOUT$", "COM\xC2\xB9", "lpt\xC2\xB2.txt"}) {
        EXPECT_FALSE(InstallLogRelativePathSound(bad)) << bad;
        EXPECT_EQ(Problem(With(Head(), {std::string("folder ") + bad})), LOG_BAD_RELATIVE_PATH) << bad;
        EXPECT_EQ(Problem(With(Head(), {std::string("file 1 0000000000000001 ") + bad})), LOG_BAD_RELATIVE_PATH)
            << bad;
    }
    // Names that only resemble those: device names need the whole name before a dot.
    for (const char* good : {"a", "docs\\a.txt", "...a", ".hidden", "a..b", "CONSOLE.txt", "com10", "LPT",
                             "comx", "nul_", "my con.txt", "\xC3\xA9t\xC3\xA9\\caf\xC3\xA9.txt", "a b\\c d"}) {
        EXPECT_TRUE(InstallLogRelativePathSound(good)) << good;
        EXPECT_EQ(Problem(With(Head(), {std::string("folder ") + good})), LOG_SOUND) << good;
    }
    // The uninstaller lies at the directory's top.
    std::vector<std::string> lines = Head();
    for (const char* bad : {"bin\\uninstall.exe", "..\\uninstall.exe", "C:\\uninstall.exe", "nul.exe"}) {
        lines[3] = std::string("program ") + bad;
        EXPECT_EQ(Problem(lines), LOG_BAD_RELATIVE_PATH) << bad;
    }
}

TEST(InstallLog, AbsolutePathsAreFoldersBelowARootAndOutsideWindows)
{
    auto directory = [](const std::string& path, const char* windows = WINDOWS) {
        std::vector<std::string> lines = Head();
        lines[5] = "directory " + path;
        lines[6] = "created 0";
        return Parse(Log(lines), windows).result.problem;
    };
    for (const char* bad : {"C:", "C:\\", "c:\\\\", "C:foo", "foo", "\\foo", "\\", "\\\\server",
                            "\\\\server\\share", "\\\\server\\share\\", "\\\\?\\C:\\x", "\\\\.\\C:\\x",
                            "\\\\?\\UNC\\server\\share\\x", "C:\\a\\..\\..", "C:\\a\\.", "C:/Program Files",
                            "C:\\con", "C:\\a.", "1:\\x", "CC:\\x", "C:\\a\\\\b"})
        EXPECT_EQ(directory(bad), LOG_BAD_ABSOLUTE_PATH) << bad;
    // The Windows folder as the system gives it, in any case, with or without a backslash.
    for (const char* bad : {"C:\\Windows", "c:\\WINDOWS", "C:\\Windows\\System32", "C:\\windows\\Temp\\x"}) {
        EXPECT_EQ(directory(bad), LOG_WINDOWS_FOLDER) << bad;
        EXPECT_EQ(directory(bad, "C:\\WINDOWS\\"), LOG_WINDOWS_FOLDER) << bad;
    }
    for (const char* good : {"C:\\Windowsfoo", "C:\\Program Files\\Windows", "D:\\Windows", "C:\\x",
                             "\\\\server\\share\\Example"})
        EXPECT_EQ(directory(good), LOG_SOUND) << good;

    // Shortcuts are .lnk files anywhere but in Windows; the group folder is no bare root.
    for (const char* good : {"C:\\Users\\u\\Desktop\\Viewer.lnk", "C:\\x\\Y.LNK", "\\\\s\\p\\Start Menu\\V.lnk"})
        EXPECT_EQ(Problem(With(Head(), {std::string("shortcut ") + good})), LOG_SOUND) << good;
    EXPECT_EQ(Problem(With(Head(), {"shortcut C:\\Users\\u\\Desktop\\Viewer.exe"})), LOG_BAD_SHORTCUT);
    EXPECT_EQ(Problem(With(Head(), {"shortcut C:\\Users\\u\\Desktop\\Viewer.lnk.txt"})), LOG_BAD_SHORTCUT);
    EXPECT_EQ(Problem(With(Head(), {"shortcut C:\\Users\\u\\lnk"})), LOG_BAD_SHORTCUT);
    EXPECT_EQ(Problem(With(Head(), {"shortcut C:\\Windows\\System32\\x.lnk"})), LOG_WINDOWS_FOLDER);
    EXPECT_EQ(Problem(With(Head(), {"shortcut Desktop\\Viewer.lnk"})), LOG_BAD_ABSOLUTE_PATH);
    EXPECT_EQ(Problem(With(Head(), {"shortcut C:\\a\\..\\..\\x.lnk"})), LOG_BAD_ABSOLUTE_PATH);
    for (const char* bad : {"C:\\", "D:", "\\\\server\\share", "Example"})
        EXPECT_EQ(Problem(With(Head(), {std::string("group-folder ") + bad})), LOG_BAD_ABSOLUTE_PATH) << bad;
    EXPECT_EQ(Problem(With(Head(), {"group-folder C:\\WINDOWS"})), LOG_WINDOWS_FOLDER);

    // A program manager group is one name that cannot end the command or start another.
    for (const char* bad : {"a)][DeleteGroup(Startup", "..", "..\\Startup", "Accessories,1", "a\"b", "CON"})
        EXPECT_EQ(Problem(With(Head(), {std::string("dde-group ") + bad})), LOG_BAD_GROUP) << bad;
    EXPECT_TRUE(InstallLogPathInside("C:\\Windows", "C:\\Windows"));
    EXPECT_FALSE(InstallLogPathInside("C:\\Windows", ""));
}

TEST(InstallLog, LogNameBesideTheUninstaller)
{
    char name[TEXT_SIZE];
    InstallLogName("uninstall.exe", name);
    EXPECT_STREQ(name, "uninstall.log");
    InstallLogName("Remove.Viewer.EXE", name);
    EXPECT_STREQ(name, "Remove.Viewer.log");
    InstallLogName("uninstall", name);
    EXPECT_STREQ(name, "uninstall.log");
    InstallLogName("C:\\a.b\\uninstall", name);
    EXPECT_STREQ(name, "C:\\a.b\\uninstall.log");
    std::string longName(TEXT_SIZE + 50, 'x');
    InstallLogName(longName.c_str(), name);
    EXPECT_EQ(std::string(name).size(), (size_t)TEXT_SIZE - 1);
    EXPECT_EQ(std::string(name).substr(TEXT_SIZE - 5), ".log");
}

}  // namespace

// The installer logs a program manager group only by this rule, so that its log never
// names a group the reader would refuse the whole log for.
TEST(InstallLog, GroupNamesTheWriterMayLogAreThoseTheReaderTakes)
{
    for (const char* good : {"Example Viewer", "Viewer 1.0", "Ünïcode-ish"})
        EXPECT_TRUE(InstallLogGroupNameSound(good)) << good;
    for (const char* bad : {"", "Viewer.", "Viewer ", "A(b)", "x]y", "a,b", "q\"t", "back\\slash", "c:d", "NUL"})
        EXPECT_FALSE(InstallLogGroupNameSound(bad)) << bad;
}

// The writer and the reader decide "the same name" by this one comparison: ASCII letters
// fold, other bytes (UTF-8's) do not, and a limit compares a prefix.
TEST(InstallLog, NamesCompareFoldedAsciiOnly)
{
    EXPECT_TRUE(InstallLogSameFolded("C:\\Program Files\\A.TXT", "c:\\program files\\a.txt", 0));
    EXPECT_FALSE(InstallLogSameFolded("abc", "abcd", 0));
    EXPECT_FALSE(InstallLogSameFolded("\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9", 0));  // Été, été
    EXPECT_TRUE(InstallLogSameFolded("\xEF\xBB\xBFquill", "\xEF\xBB\xBF" "QUILL-x", 8));
    EXPECT_FALSE(InstallLogSameFolded("\xEF\xBB\xBFquill", "\xEF\xBB\xBF" "QUILL-x", 9));
    EXPECT_TRUE(InstallLogSameFolded("ab", "AB", 5));   // both end inside the limit
    EXPECT_FALSE(InstallLogSameFolded("ab", "ABC", 5));
}
