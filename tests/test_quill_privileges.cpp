// The execution level of the installer program: set in place by quill pack, read back by
// quill list, refused where it cannot be set without moving bytes.
#include <gtest/gtest.h>

#include "pe/manifest.h"
#include "test_quill_support.h"

namespace {

const std::string MANIFEST_LINE = "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>";

// A stand-in program: MZ, bytes, the manifest's level element, bytes.
Bytes ProgramWith(const std::string& element)
{
    Bytes program(3000, 0);
    program[0] = 'M';
    program[1] = 'Z';
    for (size_t i = 64; i < program.size(); i++)
        program[i] = (u8)(i * 13);
    std::copy(element.begin(), element.end(), program.begin() + 2000);
    return program;
}

TEST(Manifest, LevelsRewrittenInPlaceBothWays)
{
    Bytes program = ProgramWith(MANIFEST_LINE);
    Bytes original = program;
    EXPECT_EQ(LEVEL_ADMIN, ExecutionLevel(program));
    ASSERT_TRUE(SetExecutionLevel(program, LEVEL_USER));
    EXPECT_EQ(LEVEL_USER, ExecutionLevel(program));
    ASSERT_EQ(original.size(), program.size());
    std::string element(program.begin() + 2000, program.begin() + 2000 + MANIFEST_LINE.size());
    EXPECT_EQ("<requestedExecutionLevel level=\"asInvoker\"            uiAccess=\"false\"/>", element);
    // Nothing outside the element changed.
    for (size_t i = 0; i < program.size(); i++)
        if (i < 2000 || i >= 2000 + MANIFEST_LINE.size())
            ASSERT_EQ(original[i], program[i]) << i;
    // The blanks are room: back to the longest level, byte for byte the original.
    ASSERT_TRUE(SetExecutionLevel(program, LEVEL_ADMIN));
    EXPECT_EQ(original, program);
}

TEST(Manifest, NoRoomNoLevelOrTwoLevelsAreRefused)
{
    // A program built with the short level and no room behind it.
    Bytes tight = ProgramWith("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>");
    Bytes before = tight;
    EXPECT_FALSE(SetExecutionLevel(tight, LEVEL_ADMIN));
    EXPECT_EQ(before, tight);
    EXPECT_TRUE(SetExecutionLevel(tight, LEVEL_USER));  // the same length fits

    Bytes none = ProgramWith("<assembly/>");
    EXPECT_EQ("", ExecutionLevel(none));
    EXPECT_FALSE(SetExecutionLevel(none, LEVEL_USER));

    Bytes two = ProgramWith(MANIFEST_LINE + MANIFEST_LINE);
    EXPECT_EQ("", ExecutionLevel(two));
    EXPECT_FALSE(SetExecutionLevel(two, LEVEL_USER));
}

TEST(Manifest, DefaultDirectoriesUnderProgramFiles)
{
    for (const char* dir : {"Example\\Viewer", "\\Tools", "C:\\Program Files\\Tools", "d:\\PROGRAM FILES (X86)\\T"})
        EXPECT_TRUE(UnderProgramFiles(dir)) << dir;
    for (const char* dir : {"C:\\Tools", "C:\\Users\\Tools", "D:\\Apps\\Program Files\\T"})
        EXPECT_FALSE(UnderProgramFiles(dir)) << dir;
}

class QuillPrivileges : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeDir(dir / "src");
        WriteBytes(dir / "src/a.txt", TextBytes("a"));
        WriteBytes(stub, ProgramWith(MANIFEST_LINE));
    }
    QuillRun Pack(std::vector<std::string> extra)
    {
        std::vector<std::string> args = {"pack", dir / "src", "-o", dir / "setup.exe", "--stub", stub, "--no-uninstall",
                                         "--title", "T", "-q"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunQuill(args);
    }
    std::string Listed()
    {
        QuillRun list = RunQuill({"list", dir / "setup.exe"});
        EXPECT_EQ(0, list.code) << list.err;
        size_t at = list.out.find("privileges");
        return at == std::string::npos ? "" : list.out.substr(at, list.out.find('\n', at) - at);
    }
    TempDir dir;
    std::string stub = dir / "stub.exe";
};

TEST_F(QuillPrivileges, PackSetsListShowsAndOnlyTheLevelDiffers)
{
    QuillRun pack = Pack({"--install-dir", "D:\\Apps\\T"});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_EQ("", pack.err);
    EXPECT_EQ("privileges    admin (requireAdministrator)", Listed());
    Bytes admin = ReadBytes(dir / "setup.exe");

    pack = Pack({"--install-dir", "D:\\Apps\\T", "--privileges", "user"});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_EQ("", pack.err);  // not under Program Files: no warning
    EXPECT_EQ("privileges    user (asInvoker)", Listed());
    Bytes user = ReadBytes(dir / "setup.exe");
    ASSERT_EQ(admin.size(), user.size());
    // Only the level's value and the room behind it differ: "requireAdministrator\"" and
    // "asInvoker\"" with blanks.
    size_t first = admin.size(), last = 0;
    for (size_t i = 0; i < admin.size(); i++)
        if (admin[i] != user[i]) {
            first = std::min(first, i);
            last = i;
        }
    ASSERT_LT(first, admin.size());
    EXPECT_LE(last - first + 1, std::string(LEVEL_ADMIN).size() + 1);
    QuillRun json = RunQuill({"list", dir / "setup.exe", "--json"});
    EXPECT_TRUE(Contains(json.out, "\"executionLevel\": \"asInvoker\"")) << json.out;

    // The project file says it as well; the option wins over it.
    WriteBytes(dir / "p.ini", TextBytes("[installer]\nprivileges = user\n"));
    pack = RunQuill({"pack", dir / "src", dir / "p.ini", "-o", dir / "setup.exe", "--stub", stub, "--no-uninstall", "--title", "T",
                     "--install-dir", "D:\\T", "-q", "--privileges", "admin"});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_EQ("privileges    admin (requireAdministrator)", Listed());
}

TEST_F(QuillPrivileges, UserUnderProgramFilesWarnsAndBadValuesAreRefused)
{
    QuillRun pack = Pack({"--install-dir", "Example\\Viewer", "--privileges", "user"});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_TRUE(Contains(pack.err, "warning: --privileges: privileges user with the default directory "
                                   "Example\\Viewer under Program Files"))
        << pack.err;

    pack = Pack({"--install-dir", "D:\\T", "--privileges", "root"});
    EXPECT_EQ(EXIT_USAGE, pack.code);
    EXPECT_TRUE(Contains(pack.err, "privileges are user or admin, not \"root\"")) << pack.err;

    // A program without a manifest level: packed as it is, unless a level is asked for.
    std::string bare = WriteStub(dir.Path() + "/src/..", 4096);
    pack = RunQuill({"pack", dir / "src", "-o", dir / "bare.exe", "--stub", bare, "--no-uninstall", "--title", "T",
                     "--install-dir", "D:\\T", "-q"});
    EXPECT_EQ(0, pack.code) << pack.err;
    pack = RunQuill({"pack", dir / "src", "-o", dir / "bare.exe", "--stub", bare, "--no-uninstall", "--title", "T",
                     "--install-dir", "D:\\T", "-q", "--privileges", "user"});
    EXPECT_EQ(EXIT_USAGE, pack.code);
    EXPECT_TRUE(Contains(pack.err, "the installer program has no manifest level to set")) << pack.err;
}

}  // namespace
