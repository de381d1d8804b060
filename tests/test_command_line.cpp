// The installer's command line and exit codes, natively: what a deployment script writes
// must be read as it means it, and anything else refused rather than guessed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/command_line.h"

namespace {

struct Parsed {
    int understood;
    CommandLine line;
};

Parsed Parse(const std::string& text)
{
    Parsed parsed;
    parsed.understood = ParseCommandLine(text.c_str(), &parsed.line);
    return parsed;
}

TEST(CommandLine, NoArgumentsIsTheInteractiveInstall)
{
    for (const char* line : {"setup.exe", "\"C:\\Program Files\\x\\setup.exe\"", "setup.exe   \t ",
                             "\"C:\\a b\\setup.exe\"  "}) {
        Parsed p = Parse(line);
        EXPECT_TRUE(p.understood) << line;
        EXPECT_FALSE(p.line.silent || p.line.noGroup || p.line.runPostInstall || p.line.usage) << line;
        EXPECT_STREQ(p.line.installDir, "") << line;
        EXPECT_STREQ(p.line.logFile, "") << line;
    }
    // The program's quoted name holds blanks and option-like text that are not options.
    Parsed p = Parse("\"C:\\tools /S\\setup.exe\" /LOG=x.log");
    EXPECT_TRUE(p.understood);
    EXPECT_FALSE(p.line.silent);
    EXPECT_STREQ(p.line.logFile, "x.log");
}

TEST(CommandLine, EveryFieldStartsClearedWhateverTheStructureHeld)
{
    // A structure full of leftovers: every byte that no option sets comes back zero.
    CommandLine line;
    std::memset(&line, 0xA5, sizeof(line));
    EXPECT_TRUE(ParseCommandLine("setup.exe /NOGROUP", &line));
    CommandLine expected;
    std::memset(&expected, 0, sizeof(expected));
    expected.noGroup = 1;
    EXPECT_EQ(0, std::memcmp(&line, &expected, sizeof(line)));
}

TEST(CommandLine, OptionsInAnyCaseAndOrder)
{
    for (const char* line : {"setup.exe /S /NOGROUP /RUN /LOG=C:\\l.txt", "setup.exe /s /nogroup /run /log=C:\\l.txt",
                             "setup.exe /LoG=C:\\l.txt\t/Run /noGroup /s"}) {
        Parsed p = Parse(line);
        EXPECT_TRUE(p.understood) << line;
        EXPECT_TRUE(p.line.silent && p.line.noGroup && p.line.runPostInstall) << line;
        EXPECT_FALSE(p.line.usage) << line;
        EXPECT_STREQ(p.line.logFile, "C:\\l.txt") << line;
    }
    Parsed p = Parse("setup.exe /?");
    EXPECT_TRUE(p.understood);
    EXPECT_TRUE(p.line.usage);
    EXPECT_FALSE(p.line.silent);
}

TEST(CommandLine, InstallDirectoryRunsToTheEndOfTheLine)
{
    struct Case {
        const char* line;
        const char* directory;
        bool silent;
    } cases[] = {
        {"setup.exe /S /D=C:\\Apps\\Tool", "C:\\Apps\\Tool", true},
        {"setup.exe /S /D=C:\\Program Files\\My Tool", "C:\\Program Files\\My Tool", true},
        // Blanks inside and trailing blanks: the inner ones stay, the trailing ones go.
        {"setup.exe /d=D:\\a  b\\ c  \t", "D:\\a  b\\ c", false},
        // What follows /D= is the path, even when it looks like an option.
        {"setup.exe /D=C:\\x /S /LOG=y", "C:\\x /S /LOG=y", false},
        // Quotes around the value or around the whole argument are dropped.
        {"setup.exe /S /D=\"C:\\Program Files\\My Tool\"", "C:\\Program Files\\My Tool", true},
        {"setup.exe /S \"/D=C:\\Program Files\\My Tool\"", "C:\\Program Files\\My Tool", true},
        {"\"C:\\dl\\setup.exe\" /S /D=E:\\", "E:\\", true},
    };
    for (const Case& c : cases) {
        Parsed p = Parse(c.line);
        EXPECT_TRUE(p.understood) << c.line;
        EXPECT_STREQ(p.line.installDir, c.directory) << c.line;
        EXPECT_EQ(p.line.silent != 0, c.silent) << c.line;
        EXPECT_STREQ(p.line.logFile, "") << c.line;
    }
}

TEST(CommandLine, QuotesKeepBlanksInsideOneArgument)
{
    Parsed p = Parse("setup.exe /LOG=\"C:\\my logs\\setup.log\" /S");
    EXPECT_TRUE(p.understood);
    EXPECT_STREQ(p.line.logFile, "C:\\my logs\\setup.log");
    EXPECT_TRUE(p.line.silent);
    p = Parse("setup.exe \"/LOG=C:\\my logs\\setup.log\" /NOGROUP");
    EXPECT_TRUE(p.understood);
    EXPECT_STREQ(p.line.logFile, "C:\\my logs\\setup.log");
    EXPECT_TRUE(p.line.noGroup);
    // A quoted option is still that option.
    p = Parse("setup.exe \"/S\"");
    EXPECT_TRUE(p.understood);
    EXPECT_TRUE(p.line.silent);
}

TEST(CommandLine, WhatIsNotUnderstoodIsNamedAndNothingIsGuessed)
{
    struct Case {
        const char* line;
        const char* unknown;
    } cases[] = {
        {"setup.exe /X", "/X"},
        {"setup.exe /S /VERYSILENT", "/VERYSILENT"},
        {"setup.exe /SILENT", "/SILENT"},
        {"setup.exe -S", "-S"},
        {"setup.exe S", "S"},
        {"setup.exe /S/NOGROUP", "/S/NOGROUP"},
        {"setup.exe /DIR=C:\\x", "/DIR=C:\\x"},
        {"setup.exe /LOG", "/LOG"},
        {"setup.exe /LOG=", "/LOG="},
        {"setup.exe /S /D=", "/D="},
        {"setup.exe /S /D=\"\"", "/D="},
        {"setup.exe \"\"", "\"\""},
        // The first of several is named; the options around it are still read.
        {"setup.exe /S /A /LOG=l.txt /B", "/A"},
    };
    for (const Case& c : cases) {
        Parsed p = Parse(c.line);
        EXPECT_FALSE(p.understood) << c.line;
        EXPECT_STREQ(p.line.unknown, c.unknown) << c.line;
    }
    // A silent run with a bad option still knows it is silent and where its log goes,
    // so that the refusal is logged and not shown.
    Parsed p = Parse("setup.exe /S /A /LOG=l.txt /B");
    EXPECT_TRUE(p.line.silent);
    EXPECT_STREQ(p.line.logFile, "l.txt");
}

TEST(CommandLine, ValuesTooLongForAPathAreRefusedNotCut)
{
    std::string fits = "C:\\" + std::string(252, 'a');  // 255 characters
    std::string over = fits + "b";
    Parsed p = Parse("setup.exe /S /D=" + fits);
    EXPECT_TRUE(p.understood);
    EXPECT_EQ(std::string(p.line.installDir), fits);
    p = Parse("setup.exe /S /D=" + over);
    EXPECT_FALSE(p.understood);
    EXPECT_EQ(std::string(p.line.unknown, 3), "/D=");
    p = Parse("setup.exe /LOG=" + fits);
    EXPECT_TRUE(p.understood);
    EXPECT_EQ(std::string(p.line.logFile), fits);
    p = Parse("setup.exe /LOG=" + over + over + " /S");
    EXPECT_FALSE(p.understood);
    EXPECT_TRUE(p.line.silent);
    EXPECT_STREQ(p.line.logFile, "");
    EXPECT_LT(strlen(p.line.unknown), (size_t)TEXT_SIZE);

    // The bound is in characters: 255 Cyrillic ones take 510 bytes of UTF-8 and fit.
    std::string cyrillic = "C:\\";
    for (int i = 0; i < 252; i++)
        cyrillic += "\xD0\x96";
    p = Parse("setup.exe /S /D=" + cyrillic);
    EXPECT_TRUE(p.understood);
    EXPECT_EQ(std::string(p.line.installDir), cyrillic);
    EXPECT_FALSE(Parse("setup.exe /S /D=" + cyrillic + "\xD0\x96").understood);
}

TEST(ExitCodes, OutcomesMapToTheCodesDeploymentToolsKnow)
{
    EXPECT_EQ(ExitCodeFor(0), 0u);
    EXPECT_EQ(ExitCodeFor(OUTCOME_QUIT), 1602u);
    EXPECT_EQ(ExitCodeFor(MSG_NOT_ENOUGH_SPACE), 112u);
    // Every failure the installer reports by message: the directory, the files, the
    // volumes, the archive's structure, the system.
    for (int id : {MSG_CANT_OPEN_DIRECTORY, MSG_CANT_CREATE_DIRECTORY, MSG_CANT_OPEN_FILE, MSG_WRITE_ERROR,
                   MSG_SYSTEM_ERROR, MSG_READ_ERROR, MSG_WRONG_STRUCTURE})
        EXPECT_EQ(ExitCodeFor(id), 1603u) << id;
    EXPECT_EQ((int)EXIT_ALREADY_RUNNING, 1618);
    EXPECT_EQ((int)EXIT_BAD_COMMAND_LINE, 1639);
}

}  // namespace
