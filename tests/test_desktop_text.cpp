// The installer's window-free rules of the shortcut group and of high-DPI drawing: file
// names from group texts, the item split into target and arguments, the working folder,
// the DPI scaling.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>

#include "ui/desktop_text.h"

namespace {

std::string Sanitised(std::string name)
{
    SanitiseFileName(&name[0]);
    return name;
}

TEST(ShellDesktop, FileNamesFromGroupTexts)
{
    EXPECT_EQ("Quill_ Viewer _1_", Sanitised("Quill: Viewer <1>"));
    EXPECT_EQ("a_b_c_d_e_f_g_h_i_j", Sanitised("a\\b/c:d*e?f\"g<h>i|j"));
    EXPECT_EQ("tab_here", Sanitised("tab\there"));
    // Blanks, dots, dashes and 8-bit letters of every code page stay.
    EXPECT_EQ("R\xE9sum\xE9 - v1.2 (beta)", Sanitised("R\xE9sum\xE9 - v1.2 (beta)"));
    EXPECT_EQ("", Sanitised(""));
}

// The files the split may find, as the installer's test asks the disk.
std::set<std::string> files;
int Exists(const char* path)
{
    return files.count(path) != 0;
}

struct Split {
    std::string target, arguments;
};
Split SplitOf(const char* text)
{
    char target[TEXT_SIZE], arguments[TEXT_SIZE];
    memset(target, '#', sizeof(target));
    memset(arguments, '#', sizeof(arguments));
    SplitItemText(text, target, arguments, Exists);
    return {target, arguments};
}

#define EXPECT_SPLIT(text, wantTarget, wantArguments)    \
    do {                                                  \
        Split split = SplitOf(text);                      \
        EXPECT_EQ(wantTarget, split.target) << text;      \
        EXPECT_EQ(wantArguments, split.arguments) << text;\
    } while (0)

TEST(ShellDesktop, ItemTextSplitsIntoTargetAndArguments)
{
    files = {"C:\\Apps\\View\\viewer.exe", "C:\\Apps\\my tool.exe", "C:\\Apps\\my tool.exe /x"};
    // A quoted first part is the target, whatever exists; blanks before the arguments go.
    EXPECT_SPLIT("\"C:\\Program Files\\a b.exe\"   -r \"x y\"", "C:\\Program Files\\a b.exe", "-r \"x y\"");
    EXPECT_SPLIT("\"C:\\x.exe\"", "C:\\x.exe", "");
    EXPECT_SPLIT("\"C:\\unclosed quote.exe", "C:\\unclosed quote.exe", "");
    // The whole text when it names a file, blanks and all.
    EXPECT_SPLIT("C:\\Apps\\my tool.exe", "C:\\Apps\\my tool.exe", "");
    EXPECT_SPLIT("C:\\Apps\\my tool.exe /x", "C:\\Apps\\my tool.exe /x", "");
    // Else the longest part up to a blank that names one: not the shorter "C:\Apps\my".
    EXPECT_SPLIT("C:\\Apps\\my tool.exe /x /y", "C:\\Apps\\my tool.exe /x", "/y");
    EXPECT_SPLIT("C:\\Apps\\View\\viewer.exe  /r file.txt", "C:\\Apps\\View\\viewer.exe", "/r file.txt");
    // No part names a file: the whole text, as the program manager was sent it.
    EXPECT_SPLIT("notepad.exe readme.txt", "notepad.exe readme.txt", "");
    EXPECT_SPLIT("", "", "");
}

std::string Parent(const char* path)
{
    char folder[TEXT_SIZE];
    ParentFolder(folder, path);
    return folder;
}

TEST(ShellDesktop, WorkingFolderIsTheTargetsFolder)
{
    EXPECT_EQ("C:\\Apps\\View", Parent("C:\\Apps\\View\\viewer.exe"));
    EXPECT_EQ("C:\\", Parent("C:\\tool.exe"));  // the root, not the drive's current directory
    EXPECT_EQ("\\\\server\\share", Parent("\\\\server\\share\\tool.exe"));
    EXPECT_EQ("", Parent("notepad.exe"));       // found on the path: no folder of its own
}

TEST(ShellDesktop, LengthsScaleByDpiToTheNearestPixel)
{
    // 96 DPI keeps every length; 144 is one and a half, 192 twice.
    for (int value : {0, 1, 8, 10, 16, 22, 60})
        EXPECT_EQ(value, ScaleForDpi(value, 96)) << value;
    EXPECT_EQ(90, ScaleForDpi(60, 144));  // the title font's height
    EXPECT_EQ(24, ScaleForDpi(16, 144));  // a browser picture
    EXPECT_EQ(15, ScaleForDpi(10, 144));
    EXPECT_EQ(32, ScaleForDpi(16, 192));
    EXPECT_EQ(120, ScaleForDpi(60, 192));
    // Between: rounded, halves up (120 DPI: 1.25).
    EXPECT_EQ(10, ScaleForDpi(8, 120));
    EXPECT_EQ(13, ScaleForDpi(10, 120));   // 12.5
    EXPECT_EQ(28, ScaleForDpi(22, 120));   // 27.5
    EXPECT_EQ(2, ScaleForDpi(1, 144));     // 1.5
    // A long list's indent at a high DPI does not overflow.
    EXPECT_EQ(999 * 8 * 4, ScaleForDpi(999 * 8, 384));
}

}  // namespace
