// How quill asks for the program group: shortcuts by default, the program manager's
// conversation with dde, the text of a shortcut that cannot be made, the scope that
// decides whose Start menu, and the warning about an item the tree does not hold.
#include <gtest/gtest.h>

#include "test_quill_support.h"

namespace {

class QuillGroupKind : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeDir(dir / "src");
        MakeDir(dir / "src/docs");
        WriteBytes(dir / "src/viewer.exe", TextBytes("v"));
        WriteBytes(dir / "src/docs/guide.txt", TextBytes("g"));
        stub = WriteStub(dir.Path());
    }
    QuillRun Pack(std::initializer_list<std::string> more, std::initializer_list<std::string> items =
                                                               {"Viewer|\\viewer.exe /r", "Guide|\\DOCS\\Guide.txt"})
    {
        std::vector<std::string> args = {"pack", dir / "src", "-o", dir / "setup.exe", "--stub", stub,
                                         "--no-uninstall", "--title", "T", "--install-dir", "D:\\T", "-q"};
        if (items.size())
            args.insert(args.end(), {"--group-name", "G"});
        for (const std::string& item : items)
            args.insert(args.end(), {"--group-item", item});
        args.insert(args.end(), more);
        return RunQuill(args);
    }
    // The extension's lines of quill list, and the header's background line.
    std::string Listed()
    {
        QuillRun list = RunQuill({"list", dir / "setup.exe"});
        EXPECT_EQ(0, list.code) << list.err;
        QuillRun test = RunQuill({"test", dir / "setup.exe"});
        EXPECT_EQ(0, test.code) << test.err;
        EXPECT_EQ("", test.err);  // no warning of an unknown text either
        return list.out;
    }
    TempDir dir;
    std::string stub;
};

TEST_F(QuillGroupKind, ShortcutsByDefaultDdeOnRequest)
{
    QuillRun pack = Pack({});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_EQ("", pack.err);  // both targets are in the tree (case folded, arguments split off)
    std::string listed = Listed();
    EXPECT_TRUE(Contains(listed, "  group.kind          shortcuts\n")) << listed;
    EXPECT_TRUE(Contains(listed, "  text.210            The shortcut %s cannot be created.\n")) << listed;
    EXPECT_TRUE(Contains(listed, "background    minimized\n")) << listed;  // the new default
    EXPECT_FALSE(Contains(listed, "uninstall.scope")) << listed;

    // dde keeps the conversation: no text of the shortcuts; maximized is kept when asked.
    pack = Pack({"--group-kind", "DDE", "--background", "maximized"});
    ASSERT_EQ(0, pack.code) << pack.err;
    listed = Listed();
    EXPECT_TRUE(Contains(listed, "  group.kind          dde\n")) << listed;
    EXPECT_FALSE(Contains(listed, "text.210")) << listed;
    EXPECT_TRUE(Contains(listed, "background    maximized\n")) << listed;

    // No group: nothing to ask for.
    pack = Pack({}, {});
    ASSERT_EQ(0, pack.code) << pack.err;
    listed = Listed();
    EXPECT_FALSE(Contains(listed, "group.kind")) << listed;
    EXPECT_FALSE(Contains(listed, "text.210")) << listed;

    QuillRun bad = Pack({"--group-kind", "progman"});
    EXPECT_EQ(EXIT_USAGE, bad.code);
    EXPECT_TRUE(Contains(bad.err, "--group-kind: kind is shortcuts or dde, not \"progman\"")) << bad.err;
}

TEST_F(QuillGroupKind, PerUserShortcutsCarryTheScopeWithoutTheUninstall)
{
    // The shortcuts' folder follows uninstall.scope, so a per-user installer carries it
    // even when it registers nothing. The level is set in a real program's manifest.
    stub = BuiltInstaller();
    if (stub.empty())
        GTEST_SKIP() << "no installer program built";
    QuillRun pack = Pack({"--privileges", "user"});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_TRUE(Contains(Listed(), "  uninstall.scope     user\n"));
    pack = Pack({"--privileges", "user", "--group-kind", "dde"});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_FALSE(Contains(Listed(), "uninstall.scope"));
}

TEST_F(QuillGroupKind, TheShortcutTextIsAMessageOfTheSetsAndOfTheProject)
{
    for (const char* language : {"german", "french", "russian"}) {
        QuillRun pack = Pack({"--language", language});
        ASSERT_EQ(0, pack.code) << language << ": " << pack.err;
        std::string listed = Listed();
        size_t at = listed.find("  text.210 ");
        ASSERT_NE(std::string::npos, at) << language;
        std::string line = listed.substr(at, listed.find('\n', at) - at);
        EXPECT_TRUE(Contains(line, "%s")) << line;
        EXPECT_FALSE(Contains(line, "The shortcut")) << line;  // the language's own
    }
    QuillRun pack = Pack({"--message", "210=No link for %s."});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_TRUE(Contains(Listed(), "  text.210            No link for %s.\n"));
    QuillRun bad = Pack({"--message", "210=No link."});
    EXPECT_EQ(EXIT_USAGE, bad.code);
    EXPECT_TRUE(Contains(bad.err, "message 210")) << bad.err;
}

TEST_F(QuillGroupKind, AnItemTheTreeDoesNotHoldIsWarnedOf)
{
    QuillRun pack = Pack({}, {"Viewer|\\viewer.exe", "Missing|\\bin\\gone.exe /q", "Folder|\\docs",
                              "Outside|C:\\Windows\\notepad.exe", "Prefix only|\\docs /x"});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_TRUE(Contains(pack.err, "the group item \"Missing\" names \\bin\\gone.exe /q, which the source tree "
                                   "does not hold"))
        << pack.err;
    // A folder of the tree is a target as a whole, never as a part before arguments.
    EXPECT_TRUE(Contains(pack.err, "\"Prefix only\"")) << pack.err;
    EXPECT_FALSE(Contains(pack.err, "\"Folder\"")) << pack.err;
    EXPECT_FALSE(Contains(pack.err, "\"Viewer\"")) << pack.err;
    EXPECT_FALSE(Contains(pack.err, "\"Outside\"")) << pack.err;  // not in the install directory
    EXPECT_EQ(2u, (size_t)std::count(pack.err.begin(), pack.err.end(), '\n')) << pack.err;
}

}  // namespace
