// The install log as the worker writes it: the head from the archive's extension, the
// folders it created and the files it wrote with their paths, an upgrade carrying the
// earlier log and replacing what it lists, and the failures that must end the install.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "archive/context.h"
#include "archive/messages.h"
#include "extract/install_log.h"
#include "harness.h"

namespace {

const u64 TIME = 0x01D9C1E2A3B4C5D6ull;

// The archive of records with extension entries "key=value", as the packer writes them.
Bytes ArchiveWithExtension(const RecordWriter& records, const std::vector<std::string>& entries)
{
    StringBlockContent content;
    for (const std::string& entry : entries)
        content.extension.push_back({entry.substr(0, entry.find('=')), entry.substr(entry.find('=') + 1)});
    return MakeArchive(records, content);
}

const std::vector<std::string> UNINSTALL = {"codepage=1252", "uninstall.id=TestProduct",
                                            "uninstall.program=uninstall.exe",
                                            "text.201=Do you want to remove %s?", "text.205=%s is gone."};

std::string LogText(const std::string& path)
{
    Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Installs archive from dir/setup.exe into target with the log on; the worker's exit code.
u32 Install(const std::string& dir, const Bytes& archive, const std::string& target, u32 createdLevels = 0)
{
    std::string setup = WriteInstaller(dir, archive);
    EXPECT_EQ(1, OpenAt(setup));
    Host().installLog = true;
    Host().installLogDirectory = "C:\\Test\\Product";
    Host().installLogCreatedLevels = createdLevels;
    Host().overwrite = true;
    mkdir(target.c_str(), 0755);
    return ExtractInto(target);
}

TEST(InstallLogWriter, HeadFoldersAndFilesAsTheWalkWentAndNothingWithoutTheExtension)
{
    TempDir dir;
    std::string target = dir / "target";
    RecordWriter records;
    records.File("uninstall.exe", TextBytes("MZ program"), ATTRIBUTE_ARCHIVE, TIME);
    records.Directory("bin");
    records.File("tool.dat", RandomBytes(3000, 7), ATTRIBUTE_ARCHIVE, TIME + 1);
    records.Directory("deeper");
    records.File("x y.txt", TextBytes("blanks in the name"), ATTRIBUTE_ARCHIVE | ATTRIBUTE_READONLY, TIME);
    records.Up();
    records.Up();
    records.Directory("existing");  // made before the install: not the install's to remove
    records.Up();
    records.File("readme.txt", {}, ATTRIBUTE_ARCHIVE, TIME);
    records.End();
    mkdir(target.c_str(), 0755);
    mkdir((target + "/existing").c_str(), 0755);
    ASSERT_EQ(0u, Install(dir.Path(), ArchiveWithExtension(records, UNINSTALL), target, 2));
    EXPECT_EQ("\xEF\xBB\xBF"
              "quillstead-install-log 1\r\n"
              "id TestProduct\r\n"
              "title Test Product\r\n"
              "program uninstall.exe\r\n"
              "key HKCU Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TestProduct\r\n"
              "directory C:\\Test\\Product\r\n"
              "created 2\r\n"
              "text 201 Do you want to remove %s?\r\n"
              "text 205 %s is gone.\r\n"
              "file 10 01D9C1E2A3B4C5D6 uninstall.exe\r\n"
              "folder bin\r\n"
              "file 3000 01D9C1E2A3B4C5D7 bin\\tool.dat\r\n"
              "folder bin\\deeper\r\n"
              "file 18 01D9C1E2A3B4C5D6 bin\\deeper\\x y.txt\r\n"
              "file 0 01D9C1E2A3B4C5D6 readme.txt\r\n"
              "complete\r\n",
              LogText(target + "/uninstall.log"));

    // The same records without the extension: the install of today, no log.
    TempDir plain;
    std::string bare = plain / "target";
    ASSERT_EQ(0u, Install(plain.Path(), MakeArchive(records), bare));
    struct stat info;
    EXPECT_NE(0, stat((bare + "/uninstall.log").c_str(), &info));
    EXPECT_EQ(0, stat((bare + "/readme.txt").c_str(), &info));
}

TEST(InstallLogWriter, AnUpgradeCarriesTheEarlierLogAndReplacesOnlyWhatItLists)
{
    TempDir dir;
    std::string target = dir / "target";
    RecordWriter first;
    first.File("uninstall.exe", TextBytes("MZ one"), ATTRIBUTE_ARCHIVE, TIME);
    first.File("locked.txt", TextBytes("version 1"), ATTRIBUTE_ARCHIVE | ATTRIBUTE_READONLY, TIME);
    first.Directory("old");
    first.File("dropped.txt", TextBytes("only in 1"), ATTRIBUTE_ARCHIVE, TIME);
    first.Up();
    first.End();
    ASSERT_EQ(0u, Install(dir.Path(), ArchiveWithExtension(first, UNINSTALL), target, 1));

    RecordWriter second;
    second.File("uninstall.exe", TextBytes("MZ two"), ATTRIBUTE_ARCHIVE, TIME + 5);
    second.File("locked.txt", TextBytes("version 2"), ATTRIBUTE_ARCHIVE | ATTRIBUTE_READONLY, TIME + 5);
    second.File("new.txt", TextBytes("only in 2"), ATTRIBUTE_ARCHIVE, TIME + 5);
    second.End();
    ASSERT_EQ(0u, Install(dir.Path(), ArchiveWithExtension(second, UNINSTALL), target, 0));
    EXPECT_EQ(TextBytes("version 2"), ReadBytes(target + "/locked.txt"));
    std::string log = LogText(target + "/uninstall.log");
    // The earlier install made the directory's last level: the upgrade's head keeps it.
    EXPECT_NE(std::string::npos, log.find("created 1\r\n"));
    size_t carried = log.find("file 9 01D9C1E2A3B4C5D6 locked.txt\r\n");
    size_t replaced = log.find("file 9 01D9C1E2A3B4C5DB locked.txt\r\n");
    ASSERT_NE(std::string::npos, carried);
    ASSERT_NE(std::string::npos, replaced);
    EXPECT_LT(carried, replaced);  // read by its last entry
    EXPECT_NE(std::string::npos, log.find("folder old\r\nfile 9 01D9C1E2A3B4C5D6 old\\dropped.txt\r\n"));
    EXPECT_NE(std::string::npos, log.find("file 9 01D9C1E2A3B4C5DB new.txt\r\n"));
    EXPECT_EQ(1u, (u32)(log.size() - log.find("complete\r\n")) / 10);  // one end, at the end
    EXPECT_EQ(std::string::npos, log.find("quillstead-install-log", 10));

    // A read-only file the log does not list keeps today's rule: message 10 names it.
    WriteBytes(target + "/mine.txt", TextBytes("the user's"));
    chmod((target + "/mine.txt").c_str(), 0444);
    RecordWriter third;
    third.File("mine.txt", TextBytes("the product's"), ATTRIBUTE_ARCHIVE, TIME);
    third.End();
    EXPECT_EQ((u32)MSG_CANT_OPEN_FILE, Install(dir.Path(), ArchiveWithExtension(third, UNINSTALL), target));
    EXPECT_EQ(TextBytes("the user's"), ReadBytes(target + "/mine.txt"));
    EXPECT_STREQ("mine.txt", detailText);

    // Another product's log in the way is not carried, and its files are not replaced.
    std::vector<std::string> other = UNINSTALL;
    other[1] = "uninstall.id=OtherProduct";
    RecordWriter fourth;
    fourth.File("locked.txt", TextBytes("other"), ATTRIBUTE_ARCHIVE, TIME);
    fourth.End();
    EXPECT_EQ((u32)MSG_CANT_OPEN_FILE, Install(dir.Path(), ArchiveWithExtension(fourth, other), target));
    EXPECT_EQ(TextBytes("version 2"), ReadBytes(target + "/locked.txt"));

    // A log too large to read (a sparse GiB) counts as none: replaced by a fresh one.
    ASSERT_EQ(0, truncate((target + "/uninstall.log").c_str(), 0x40000000));
    RecordWriter fifth;
    fifth.File("fresh.txt", TextBytes("five"), ATTRIBUTE_ARCHIVE, TIME);
    fifth.End();
    ASSERT_EQ(0u, Install(dir.Path(), ArchiveWithExtension(fifth, UNINSTALL), target));
    log = LogText(target + "/uninstall.log");
    EXPECT_EQ(std::string::npos, log.find("locked.txt"));
    EXPECT_NE(std::string::npos, log.find("file 4 01D9C1E2A3B4C5D6 fresh.txt\r\ncomplete\r\n"));
}

TEST(InstallLogWriter, WhatTheLogCannotHoldEndsTheInstallAndABreakLeavesARemovableLog)
{
    // A path from the install directory past the log's room: message 11 names the log.
    TempDir dir;
    RecordWriter deep;
    deep.File("uninstall.exe", TextBytes("MZ"), ATTRIBUTE_ARCHIVE, TIME);
    std::string name(250, 'd');
    for (int i = 0; i < 5; i++)
        deep.Directory(name);
    deep.File("leaf.txt", TextBytes("deep"), ATTRIBUTE_ARCHIVE, TIME);
    deep.End();
    EXPECT_EQ((u32)MSG_WRITE_ERROR, Install(dir.Path(), ArchiveWithExtension(deep, UNINSTALL), dir / "target"));
    EXPECT_STREQ("uninstall.log", detailText);

    // The log cannot be created: message 10 names it before a file is written.
    TempDir locked;
    RecordWriter one;
    one.File("uninstall.exe", TextBytes("MZ"), ATTRIBUTE_ARCHIVE, TIME);
    one.File("a.txt", TextBytes("a"), ATTRIBUTE_ARCHIVE, TIME);
    one.File("b.txt", TextBytes("b"), ATTRIBUTE_ARCHIVE, TIME);
    one.End();
    std::string setup = WriteInstaller(locked.Path(), ArchiveWithExtension(one, UNINSTALL));
    ASSERT_EQ(1, OpenAt(setup));
    Host().installLog = true;
    Host().failCreate = [](const std::string& name) { return name == "uninstall.log"; };
    mkdir((locked / "target").c_str(), 0755);
    EXPECT_EQ((u32)MSG_CANT_OPEN_FILE, ExtractInto(locked / "target"));
    EXPECT_STREQ("uninstall.log", detailText);
    struct stat info;
    EXPECT_NE(0, stat((locked / "target/uninstall.exe").c_str(), &info));

    // Made but its head cut short (the magic line fits, the id's does not): message 11.
    TempDir full;
    setup = WriteInstaller(full.Path(), ArchiveWithExtension(one, UNINSTALL));
    ASSERT_EQ(1, OpenAt(setup));
    Host().installLog = true;
    Host().writeLimit = 40;
    mkdir((full / "target").c_str(), 0755);
    EXPECT_EQ((u32)MSG_WRITE_ERROR, ExtractInto(full / "target"));
    EXPECT_STREQ("uninstall.log", detailText);
    EXPECT_NE(0, stat((full / "target/uninstall.exe").c_str(), &info));

    // Broken off after two files: the log lists them and has no end.
    TempDir broken;
    setup = WriteInstaller(broken.Path(), ArchiveWithExtension(one, UNINSTALL));
    ASSERT_EQ(1, OpenAt(setup));
    Host().installLog = true;
    int files = 0;
    Host().recordDone = [&files](const RecordHeader& record, u32) { files += record.type == RECORD_FILE; };
    Host().safePoint = [&files]() { return files == 2; };
    mkdir((broken / "target").c_str(), 0755);
    EXPECT_EQ((u32)WORKER_BROKEN, ExtractInto(broken / "target"));
    std::string log = LogText(broken / "target/uninstall.log");
    EXPECT_NE(std::string::npos, log.find("file 2 01D9C1E2A3B4C5D6 uninstall.exe\r\nfile 1 01D9C1E2A3B4C5D6 a.txt\r\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("b.txt"));
    EXPECT_EQ(std::string::npos, log.find("complete"));
}

// What the installer writes the uninstaller must read: the two halves of the format meet.
TEST(InstallLogWriter, TheReaderTakesWhatTheWriterWroteAfterAnUpgrade)
{
    TempDir dir;
    std::string target = dir / "target";
    RecordWriter first;
    first.File("uninstall.exe", TextBytes("MZ one"), ATTRIBUTE_ARCHIVE, TIME);
    first.Directory("docs");
    first.File("a b.txt", TextBytes("version 1"), ATTRIBUTE_ARCHIVE, TIME);
    first.File("gone.txt", TextBytes("only in 1"), ATTRIBUTE_ARCHIVE, TIME);
    first.Up();
    first.End();
    RecordWriter second;
    second.File("uninstall.exe", TextBytes("MZ two"), ATTRIBUTE_ARCHIVE, TIME + 1);
    second.Directory("docs");
    second.File("a b.txt", TextBytes("version 2!"), ATTRIBUTE_ARCHIVE, TIME + 1);
    second.Up();
    second.End();
    ASSERT_EQ(0u, Install(dir.Path(), ArchiveWithExtension(first, UNINSTALL), target, 1));
    ASSERT_EQ(0u, Install(dir.Path(), ArchiveWithExtension(second, UNINSTALL), target));
    Bytes bytes = ReadBytes(target + "/uninstall.log");
    std::vector<InstallLogItem> items(InstallLogEntryBound((const char*)bytes.data(), (u32)bytes.size()));
    InstallLog log{};
    InstallLogResult result = ReadInstallLog((char*)bytes.data(), (u32)bytes.size(), items.data(),
                                             (u32)items.size(), "C:\\windows", &log);
    ASSERT_EQ(LOG_SOUND, result.problem) << InstallLogProblemText(result.problem) << " at line " << result.line;
    EXPECT_STREQ("TestProduct", log.id);
    EXPECT_STREQ("C:\\Test\\Product", log.directory);
    EXPECT_EQ(1u, log.createdLevels);
    EXPECT_EQ(1u, log.complete);
    EXPECT_STREQ("Do you want to remove %s?", InstallLogText(&log, 201));
    std::vector<u32> scratch(2 * log.entryCount);
    InstallLogMarkRepeats(&log, scratch.data());
    std::map<std::string, u32> sizes;  // what stands for each path once repeats are read
    for (u32 i = 0; i < log.entryCount; i++)
        if (!log.entries[i].superseded && log.entries[i].kind == LOG_FILE)
            sizes[log.entries[i].path] = log.entries[i].size;
    EXPECT_EQ((std::map<std::string, u32>{{"docs\\a b.txt", 10}, {"docs\\gone.txt", 9}, {"uninstall.exe", 6}}), sizes);
}

TEST(InstallLogWriter, TheLogsNameReplacesTheProgramsExtension)
{
    char name[TEXT_SIZE];
    InstallLogName("uninstall.exe", name);
    EXPECT_STREQ("uninstall.log", name);
    InstallLogName("remove.me.exe", name);
    EXPECT_STREQ("remove.me.log", name);
    InstallLogName("noextension", name);
    EXPECT_STREQ("noextension.log", name);
    InstallLogName("dir.d\\prog", name);
    EXPECT_STREQ("dir.d\\prog.log", name);
    std::string longName(TEXT_SIZE - 3, 'x');
    InstallLogName(longName.c_str(), name);
    EXPECT_EQ(TEXT_SIZE - 1, strlen(name));
    EXPECT_STREQ(".log", name + TEXT_SIZE - 5);
}

}  // namespace
