// The installer's text rules for the install dialog, the folder browser and the program
// group: the install path, path joining, list entry texts and the DDE command string.
#include <gtest/gtest.h>

#include <string.h>
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/messages.h"
#include "ui/shell_text.h"

namespace {

std::string Joined(const char* path, const char* name, u32 capacity = TEXT_SIZE, int* fitted = nullptr)
{
    char buffer[TEXT_SIZE * 2];
    strcpy(buffer, path);
    int fits = AppendPathPart(buffer, capacity, name);
    if (fitted)
        *fitted = fits;
    return buffer;
}

// What the install dialog makes of its text: the path, or "refused: " and what the
// message would name. current is what the current-directory call left in its buffer.
std::string InstallPath(const char* text, const char* current, u32 currentLength)
{
    char dir[TEXT_SIZE];
    memset(dir, '#', sizeof(dir));
    int failure = InstallPathFromText(dir, text, current, currentLength);
    if (failure)
        return failure == MSG_CANT_OPEN_DIRECTORY ? "refused: " + std::string(dir) : "other message";
    return dir;
}

TEST(ShellText, InstallPathsFromTheDialogText)
{
    EXPECT_EQ("C:\\Work\\Product", InstallPath("Product", "C:\\Work", 7));
    EXPECT_EQ("C:\\Work\\Games", InstallPath("\\Games\\", "C:\\Work", 7));  // not the root's
    EXPECT_EQ("C:\\Product", InstallPath("Product", "C:\\", 3));
    EXPECT_EQ("d:\\", InstallPath("d:", "C:\\Work", 7));   // a bare drive is its root
    EXPECT_EQ("D:\\Apps", InstallPath("D:\\Apps", "", 0));  // absolute: no current directory needed
    EXPECT_EQ("refused: \\\\server\\share", InstallPath("\\\\server\\share", "C:\\Work", 7));
    EXPECT_EQ("refused: C:Tools", InstallPath("C:Tools", "C:\\Work", 7));

    // A current directory that did not fit (GetCurrentDirectoryA returned the size it
    // needs, or 0) left the buffer as it was: here a path from earlier. Joining with it
    // would install somewhere the user never chose.
    const char* stale = "C:\\Earlier";
    EXPECT_EQ("refused: Product", InstallPath("Product", stale, 300));
    EXPECT_EQ("refused: Product", InstallPath("Product", stale, TEXT_SIZE));
    EXPECT_EQ("refused: Product", InstallPath("Product", stale, 0));
    std::string longest = "C:\\" + std::string(252, 'w');  // 255 characters: read, and joined
    EXPECT_EQ("refused: " + longest + "\\P", InstallPath("P", longest.c_str(), 255));
    EXPECT_EQ(longest.substr(0, 253) + "\\P", InstallPath("P", longest.substr(0, 253).c_str(), 253));

    // Characters, not bytes: 255 of them in three-byte UTF-8 are accepted, one more is not.
    std::string wide = "C:\\";
    for (int i = 0; i < 249; i++)
        wide += "\xE8\xA3\xBD";  // 製
    EXPECT_EQ(wide + "\\ab", InstallPath("ab", wide.c_str(), 252));
    EXPECT_EQ("refused: " + wide + "\\abc", InstallPath("abc", wide.c_str(), 252));
}

TEST(ShellText, PathPartsGetOneBackslashBetweenThem)
{
    EXPECT_EQ("C:\\A", Joined("C:\\", "A"));        // a root keeps its own backslash only
    EXPECT_EQ("C:\\A\\B", Joined("C:\\A", "B"));
    EXPECT_EQ("C:\\", Joined("", "C:\\"));          // the first ancestor entry starts the path
    EXPECT_EQ("C:\\A\\*.*", Joined("C:\\A", "*.*"));
    EXPECT_EQ("C:\\A\\setup", Joined("C:\\A\\", "setup"));

    // A path that fills the buffer fits; one byte more is cut and reported.
    std::string base = "C:\\" + std::string(TEXT_SIZE - 6, 'x');
    int fits = 0;
    EXPECT_EQ(base + "\\a", Joined(base.c_str(), "a", TEXT_SIZE, &fits));
    EXPECT_EQ(1, fits);
    EXPECT_EQ(base + "\\a", Joined(base.c_str(), "ab", TEXT_SIZE, &fits));
    EXPECT_EQ(0, fits);
}

TEST(ShellText, FolderEntriesSortIntoPathOrder)
{
    char entry[TEXT_SIZE + 8];
    FolderEntryText(entry, sizeof(entry), 2, "Tools");
    EXPECT_STREQ("002Tools", entry);
    for (u32 depth : {0u, 7u, 42u, 123u}) {
        FolderEntryText(entry, sizeof(entry), depth, "x");
        EXPECT_EQ(depth, FolderEntryDepth(entry));
    }
    // The list sorts case-blind: the padded depth keeps C:\ a\...\j above its subfolders,
    // also past depth 9, where unpadded numbers would sort 10 before 9.
    std::vector<std::string> entries;
    const char* path[] = {"C:\\", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j"};
    for (u32 depth = 0; depth < 11; depth++) {
        FolderEntryText(entry, sizeof(entry), depth, path[depth]);
        entries.push_back(entry);
    }
    std::vector<std::string> expected = entries;
    for (const char* child : {"Zeta", "alpha", "Mid"}) {
        FolderEntryText(entry, sizeof(entry), 11, child);
        entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
    entries.resize(expected.size());
    EXPECT_EQ(expected, entries);
}

TEST(ShellText, DriveEntriesAndTheStartDrive)
{
    char entry[TEXT_SIZE];
    DriveEntryText(entry, sizeof(entry), "c:\\", "SYSTEM");
    EXPECT_STREQ("c: SYSTEM", entry);
    DriveEntryText(entry, sizeof(entry), "a:\\", "");
    EXPECT_STREQ("a: ", entry);
    DriveEntryText(entry, sizeof(entry), "z:\\", "\\\\server\\share");
    EXPECT_STREQ("z: \\\\server\\share", entry);
    std::string label(TEXT_SIZE + 50, 'L');
    DriveEntryText(entry, 40, "n:\\", label.c_str());  // cut to the capacity
    EXPECT_EQ(39u, strlen(entry));

    EXPECT_TRUE(SameDrive("c: system", "C:\\Program Files\\Product"));
    EXPECT_FALSE(SameDrive("d: data", "C:\\Program Files"));
    EXPECT_FALSE(SameDrive("c: ", "c"));  // a start path of one character names no drive
    EXPECT_FALSE(SameDrive("c: ", ""));
}

TEST(ShellText, GroupItemPaths)
{
    char out[TEXT_SIZE];
    ASSERT_TRUE(JoinItemPath(out, sizeof(out), "C:\\Apps\\Tools", "\\edit.exe"));
    EXPECT_STREQ("C:\\Apps\\Tools\\edit.exe", out);
    ASSERT_TRUE(JoinItemPath(out, sizeof(out), "C:\\", "\\prog.exe"));
    EXPECT_STREQ("C:\\prog.exe", out);  // not C:\\prog.exe with two backslashes
    ASSERT_TRUE(JoinItemPath(out, sizeof(out), "C:\\Apps", "\\setup.exe /x"));
    EXPECT_STREQ("C:\\Apps\\setup.exe /x", out);
    ASSERT_TRUE(JoinItemPath(out, sizeof(out), "C:\\Apps", "C:\\Windows\\notepad.exe"));
    EXPECT_STREQ("C:\\Windows\\notepad.exe", out);

    std::string dir = "C:\\" + std::string(TEXT_SIZE - 16, 'd');
    EXPECT_TRUE(JoinItemPath(out, sizeof(out), dir.c_str(), "\\1234567.txt"));   // fills the buffer
    EXPECT_FALSE(JoinItemPath(out, sizeof(out), dir.c_str(), "\\12345678.txt"));  // one byte more
    EXPECT_FALSE(JoinItemPath(out, sizeof(out), "C:\\", std::string(TEXT_SIZE, 'a').c_str()));
}

TEST(ShellText, GroupCommandIsCountedThenWrittenWhole)
{
    // The example: group Tools, install directory C:\Apps\Tools, item Editor at \edit.exe.
    auto build = [](char* out, u32 capacity) {
        u32 n = PutCommand(out, capacity, 0, GROUP_CREATE_FORMAT, "Tools", "Tools");
        return PutCommand(out, capacity, n, GROUP_ADD_ITEM_FORMAT, "C:\\Apps\\Tools\\edit.exe", "Editor");
    };
    const std::string expected =
        "[CreateGroup(Tools)][ShowGroup(Tools, 1)][AddItem(C:\\Apps\\Tools\\edit.exe,Editor)]";
    u32 size = build(nullptr, 0);
    ASSERT_EQ(expected.size(), size);
    std::vector<char> block(size + 1, '#');
    EXPECT_EQ(size, build(block.data(), size));
    EXPECT_EQ(expected, std::string(block.data(), size));
    EXPECT_EQ('#', block[size]);  // no terminator of its own: the caller's

    // Cut at the capacity, nothing written past it; texts are inserted as they are.
    std::vector<char> small(12, '#');
    EXPECT_EQ(size, build(small.data(), 10));
    EXPECT_EQ("[CreateGro#", std::string(small.data(), 11));
    char text[64];
    u32 n = PutCommand(text, sizeof(text), 0, GROUP_ADD_ITEM_FORMAT, "a%sb", "100%");
    EXPECT_EQ("[AddItem(a%sb,100%)]", std::string(text, n));
}

}  // namespace

// The install dialog's free figure, against the 64-bit division it stands for: cluster
// sizes past 32 bits, remainders at every step, and the largest values.
TEST(ShellText, FreeThousandsIsTheTenthOfTheClusterTimesTheHundredths)
{
    const u32 values[] = {0, 1, 9, 10, 11, 99, 100, 512, 4096, 65535, 65536, 1000003,
                          0x7FFFFFFF, 0x80000000, 0xFFFFFFF6, 0xFFFFFFFF};
    for (u32 bytes : values)
        for (u32 sectors : values)
            for (u32 clusters : {0u, 99u, 100u, 1048575u, 0xFFFFFFFFu}) {
                u64 expected = (u64)bytes * sectors / 10 * (clusters / 100);
                EXPECT_EQ(FreeThousands(bytes, sectors, clusters), expected)
                    << bytes << " bytes, " << sectors << " sectors, " << clusters << " clusters";
            }
    // A 4.3 TB disk of 4 KiB clusters: 4,294,967,295 free clusters.
    EXPECT_EQ(FreeThousands(512, 8, 0xFFFFFFFF), 409ull * 42949672);
}
