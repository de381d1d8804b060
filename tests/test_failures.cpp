// Every way the worker can fail, with its message id and detail text, and damaged
// archives that must end cleanly: no crash, no read or write out of bounds, no hang.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "archive/archive.h"
#include "archive/context.h"
#include "archive/messages.h"
#include "harness.h"

namespace {

// The worker's end as the progress dialog would see it.
struct Failure {
    u32 code;
    std::string detail;
    bool aborted;  // ID_WORKER_ABORTED was sent
};

Failure RunFrom(const std::string& program, const std::string& target)
{
    EXPECT_EQ(1, OpenAt(program));
    Failure failure;
    failure.code = ExtractInto(target);
    failure.detail = detailText;
    failure.aborted = !EventsOf(HostEvent::ABORTED).empty();
    // Whatever the way out, nothing stays held.
    EXPECT_EQ(nullptr, context.readBuffer);
    EXPECT_EQ(nullptr, context.outputBuffer);
    EXPECT_EQ(nullptr, context.volumeHandle);
    EXPECT_EQ(nullptr, context.outputHandle);
    return failure;
}

Failure RunArchive(const Bytes& archive, const std::string& target)
{
    TempDir dir;
    return RunFrom(WriteInstaller(dir.Path(), archive), target);
}

}  // namespace

TEST(WorkerFailures, DirectoryThatCannotBeEntered)
{
    TempDir target;
    WriteBytes(target / "docs", TextBytes("a file in the way"));
    RecordWriter records;
    records.Directory("docs");
    records.End();
    Failure failure = RunArchive(MakeArchive(records), target.Path());
    EXPECT_EQ((u32)MSG_CANT_OPEN_DIRECTORY, failure.code);
    EXPECT_EQ("docs", failure.detail);
    EXPECT_TRUE(failure.aborted);
    EXPECT_TRUE(EventsOf(HostEvent::CREATE_GROUP).empty());
}

TEST(WorkerFailures, ReadOnlyFileInTheWay)
{
    TempDir target;
    WriteBytes(target / "config.ini", TextBytes("old"));
    ASSERT_EQ(0, chmod((target / "config.ini").c_str(), 0444));
    RecordWriter records;
    records.File("first.txt", TextBytes("written before the failure"));
    records.File("config.ini", TextBytes("new"));
    records.End();
    Failure failure = RunArchive(MakeArchive(records), target.Path());
    EXPECT_EQ((u32)MSG_CANT_OPEN_FILE, failure.code);
    EXPECT_EQ("config.ini", failure.detail);
    EXPECT_EQ(TextBytes("old"), ReadBytes(target / "config.ini"));
    EXPECT_EQ(TextBytes("written before the failure"), ReadBytes(target / "first.txt"));
}

TEST(WorkerFailures, WriteFailureKeepsWhatWasWritten)
{
    // A file size limit makes the second block write fail, as a full disk would.
    TempDir target;
    RecordWriter records;
    Bytes data = RandomBytes(3 * STREAM_BUFFER_SIZE, 5);
    records.File("huge.bin", data);
    records.End();
    Bytes archive = MakeArchive(records);
    TempDir dir;
    std::string program = WriteInstaller(dir.Path(), archive);
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = 100000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
    Failure failure = RunFrom(program, target.Path());
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ((u32)MSG_WRITE_ERROR, failure.code);
    EXPECT_EQ("huge.bin", failure.detail);
    Bytes written = ReadBytes(target / "huge.bin");
    // The first block whole, the second as far as the limit let it go.
    ASSERT_EQ(100000u, written.size());
    EXPECT_TRUE(std::equal(written.begin(), written.end(), data.begin()));
}

TEST(WorkerFailures, WrongRecordTypeNamesTheVolume)
{
    for (u8 type : {0, 5, 255}) {
        TempDir target;
        RecordWriter records;
        records.File("ok.txt", TextBytes("fine"));
        records.Header(type, 0, 0, 0);
        records.End();
        TempDir dir;
        std::string program = WriteInstaller(dir.Path(), MakeArchive(records));
        Failure failure = RunFrom(program, target.Path());
        EXPECT_EQ((u32)MSG_WRONG_STRUCTURE, failure.code) << (int)type;
        EXPECT_EQ(ToWindowsPath(program), failure.detail);
        EXPECT_EQ(TextBytes("fine"), ReadBytes(target / "ok.txt"));
    }
    // In a later volume: disk<N>.pak in the program's directory, even when that volume
    // was found elsewhere.
    RecordWriter records;
    records.File("ok.txt", RandomBytes(300, 1));
    records.Header(9, 0, 0, 0);
    Bytes archive = MakeArchive(records);
    TempDir dir, target;
    WriteVolumes(dir.Path(), archive, {archive.size() - 10});
    WriteBytes(dir / "setup.exe", Bytes(5, 0));
    Failure failure = RunFrom(dir / "setup.exe", target.Path());
    EXPECT_EQ((u32)MSG_WRONG_STRUCTURE, failure.code);
    EXPECT_EQ(ToWindowsPath(dir / "disk2.pak"), failure.detail);
}

TEST(WorkerFailures, OverlongNameIsRefusedBeforeItLands)
{
    TempDir target;
    RecordWriter records;
    records.Header(RECORD_FILE, ATTRIBUTE_ARCHIVE, 0, 256);
    records.Raw(Bytes(300, 'n'));
    records.End();
    TempDir dir;
    std::string program = WriteInstaller(dir.Path(), MakeArchive(records));
    Failure failure = RunFrom(program, target.Path());
    EXPECT_EQ((u32)MSG_WRONG_STRUCTURE, failure.code);
    EXPECT_EQ(ToWindowsPath(program), failure.detail);
    EXPECT_TRUE(ReadTree(target.Path()).empty());

    // 255 bytes is the longest name there is, and it works.
    RecordWriter longest;
    longest.File(std::string(255, 'n'), TextBytes("x"));
    longest.End();
    TempDir other;
    EXPECT_EQ(0u, RunArchive(MakeArchive(longest), other.Path()).code);
    EXPECT_EQ(TextBytes("x"), ReadBytes(other / std::string(255, 'n')));
}

TEST(WorkerFailures, MissingVolumeGivenUp)
{
    RecordWriter records;
    records.File("a", RandomBytes(2000, 1));
    records.End();
    Bytes archive = MakeArchive(records);
    TempDir dir, target;
    WriteVolumes(dir.Path(), archive, {archive.size() / 2});
    WriteBytes(dir / "setup.exe", Bytes(5, 0));
    ASSERT_EQ(0, unlink((dir / "disk2.pak").c_str()));
    Failure failure = RunFrom(dir / "setup.exe", target.Path());
    EXPECT_EQ((u32)MSG_CANT_OPEN_FILE, failure.code);
    EXPECT_EQ("disk2.pak", failure.detail);
    // Not a floppy: straight to the open-file dialog, no prompt.
    EXPECT_TRUE(BoxTexts().empty());
    ASSERT_EQ(1u, EventsOf(HostEvent::OPEN_FILE).size());
    EXPECT_EQ("disk2.pak", EventsOf(HostEvent::OPEN_FILE)[0].text);
}

TEST(WorkerFailures, FloppyPromptThenDialog)
{
    // The program on drive A: (a directory named "A:" here, the current directory while the
    // worker runs): a missing disk2.pak is prompted for with message 118 until the user
    // cancels, then asked for in the dialog; the disk arriving during the prompts is read.
    RecordWriter records;
    records.File("a", RandomBytes(2000, 1));
    records.End();
    Bytes archive = MakeArchive(records);
    TempDir work;
    ASSERT_EQ(0, mkdir((work / "A:").c_str(), 0777));
    ASSERT_EQ(0, mkdir((work / "a:").c_str(), 0777));  // the lower-cased path, as Windows folds it
    WriteVolumes(work / "A:", archive, {archive.size() / 2});
    ASSERT_EQ(0, rename((work / "A:/disk2.pak").c_str(), (work / "spare").c_str()));
    WriteBytes(work / "A:/setup.exe", Bytes(5, 0));
    char saved[4096];
    ASSERT_NE(nullptr, getcwd(saved, sizeof(saved)));
    ASSERT_EQ(0, chdir(work.Path().c_str()));
    ResetHost();
    Host().programPath = "A:/setup.exe";
    ASSERT_EQ(1, OpenArchive());
    int prompts = 0;
    Host().messageBox = [&](const std::string&, const std::string&, u32) {
        if (++prompts == 3)
            rename("spare", "a:/disk2.pak");
        return ANSWER_OK;
    };
    u32 code = RunWorker();
    ASSERT_EQ(0, chdir(saved));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(3, prompts);
    auto boxes = EventsOf(HostEvent::MESSAGE_BOX);
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ("Insert disk 2", boxes[0].text);
    EXPECT_EQ("Attention", boxes[0].caption);
    EXPECT_EQ((u32)BOX_OK_CANCEL, boxes[0].value);
    EXPECT_TRUE(EventsOf(HostEvent::OPEN_FILE).empty());
    EXPECT_EQ(RandomBytes(2000, 1), ReadBytes(work / "a"));

    // Cancel in the prompt leads to the dialog, whose cancel ends the worker.
    ASSERT_EQ(0, rename((work / "a:/disk2.pak").c_str(), (work / "spare").c_str()));
    ASSERT_EQ(0, chdir(work.Path().c_str()));
    ResetHost();
    Host().programPath = "A:/setup.exe";
    ASSERT_EQ(1, OpenArchive());
    code = RunWorker();
    ASSERT_EQ(0, chdir(saved));
    EXPECT_EQ((u32)MSG_CANT_OPEN_FILE, code);
    EXPECT_STREQ("disk2.pak", detailText);
    EXPECT_EQ(1u, EventsOf(HostEvent::MESSAGE_BOX).size());
    EXPECT_EQ(1u, EventsOf(HostEvent::OPEN_FILE).size());

    // A close request answers the prompt, or the dialog, for nobody: the worker ends there
    // as a break, with no dialog after the prompt and no message 10 after the dialog.
    for (bool atPrompt : {true, false}) {
        SCOPED_TRACE(atPrompt ? "prompt" : "open-file dialog");
        ASSERT_EQ(0, chdir(work.Path().c_str()));
        ResetHost();
        Host().programPath = "A:/setup.exe";
        ASSERT_EQ(1, OpenArchive());
        bool closing = false;
        Host().messageBox = [&](const std::string&, const std::string&, u32) {
            closing = atPrompt;
            return ANSWER_CANCEL;
        };
        Host().openFile = [&](const std::string&) {
            closing = true;
            return std::optional<std::string>();
        };
        Host().safePoint = [&] { return closing; };
        code = RunWorker();
        ASSERT_EQ(0, chdir(saved));
        EXPECT_EQ((u32)WORKER_BROKEN, code);
        EXPECT_EQ(atPrompt ? 0u : 1u, EventsOf(HostEvent::OPEN_FILE).size());
        EXPECT_EQ(0u, Host().openFiles.size());
    }
}

TEST(WorkerFailures, ReadFailureNamesTheVolume)
{
    // A volume that shrinks while it is read: the refill comes up short.
    RecordWriter records;
    records.File("a", RandomBytes(150000, 1));
    records.File("b", RandomBytes(150000, 2));
    records.End();
    Bytes archive = MakeArchive(records);
    for (u32 volume : {1u, 3u}) {
        TempDir dir, target;
        size_t third = archive.size() / 3;
        WriteVolumes(dir.Path(), archive, {third, 2 * third});
        WriteBytes(dir / "setup.exe", Bytes(5, 0));
        std::string path = dir / ("disk" + std::to_string(volume) + ".pak");
        ASSERT_EQ(1, OpenAt(dir / "setup.exe"));
        Host().safePoint = [&]() {
            if (context.volumeNumber == volume)
                truncate(path.c_str(), 70000);
            return false;
        };
        u32 code = ExtractInto(target.Path());
        EXPECT_EQ((u32)MSG_READ_ERROR, code) << volume;
        if (volume == 1)
            EXPECT_EQ(ToWindowsPath(path), detailText);
        else
            EXPECT_STREQ("disk3.pak", detailText);
    }
}

TEST(WorkerFailures, BreakAtASafePointKeepsWhatWasWritten)
{
    RecordWriter records;
    records.File("one", RandomBytes(100, 1));
    records.File("two", RandomBytes(100000, 2));
    records.File("three", RandomBytes(100, 3));
    records.End();
    TempDir dir, target;
    std::string program = WriteInstaller(dir.Path(), MakeArchive(records));
    ASSERT_EQ(1, OpenAt(program));
    int calls = 0;
    Host().safePoint = [&]() { return ++calls == 4; };  // inside the second file
    u32 code = ExtractInto(target.Path());
    EXPECT_EQ((u32)WORKER_BROKEN, code);
    EXPECT_TRUE(EventsOf(HostEvent::ABORTED).empty());
    EXPECT_EQ(RandomBytes(100, 1), ReadBytes(target / "one"));
    EXPECT_LT(ReadBytes(target / "two").size(), 100000u);
    EXPECT_FALSE(ReadTree(target.Path()).count("three"));
    EXPECT_EQ(nullptr, context.readBuffer);
    EXPECT_EQ(nullptr, context.outputBuffer);
}

TEST(DamagedArchives, NeverCrashOrHang)
{
    // Flipped bytes anywhere in the record stream, and truncations: the worker ends with
    // some code, within the archive's own size budget, writing nowhere but its target.
    RecordWriter records;
    records.Directory("d");
    records.File("text.txt", TextBytes(std::string(3000, 'a') + "tail"));
    records.File("bin", RandomBytes(2000, 4));
    records.File("nil", {});
    records.Up();
    records.File("last", TextBytes("end"));
    records.End();
    Bytes archive = MakeArchive(records);
    ArchiveHeader header;
    std::memcpy(&header, archive.data(), sizeof(header));
    size_t streamStart = sizeof(header) + header.stringBlockSize;
    std::mt19937 random(1234);
    for (int round = 0; round < 300; round++) {
        Bytes damaged = archive;
        int flips = 1 + round % 3;
        for (int i = 0; i < flips; i++) {
            size_t at = streamStart + random() % (damaged.size() - streamStart);
            damaged[at] ^= (u8)(1u << (random() % 8));
        }
        if (round % 5 == 0)
            damaged.resize(streamStart + random() % (damaged.size() - streamStart));
        TempDir dir, target;
        std::string program = WriteInstaller(dir.Path(), damaged);
        ASSERT_EQ(1, OpenAt(program));
        Host().confineRoot = target.Path();
        Host().discardOutput = true;
        // A damaged size can ask for gigabytes: stop once more than the archive's total is
        // decoded, as the tools do.
        Host().safePoint = [&]() { return Host().lastBarPosition > header.totalSize; };
        u32 code = ExtractInto(target.Path());
        EXPECT_TRUE(code == 0 || code == MSG_CANT_OPEN_DIRECTORY || code == MSG_CANT_OPEN_FILE ||
                    code == MSG_WRONG_STRUCTURE || code == MSG_READ_ERROR || code == WORKER_BROKEN)
            << "round " << round << " code " << code;
        EXPECT_TRUE(ReadTree(target.Path()).empty()) << round;
    }
}

TEST(Confinement, NamesThatLeaveTheTargetAreRefused)
{
    // The extractor meets archives from anywhere: a directory record named like a full path
    // or "..", a file name with a separator, and an up record above the target all stop the
    // walk before anything lands outside.
    TempDir outside;
    std::string escape = ToWindowsPath(outside.Path());
    struct Case {
        const char* what;
        RecordWriter records;
        u32 code;
    };
    std::vector<Case> cases(4);
    cases[0].what = "full path";
    cases[0].records.Directory(escape);
    cases[0].code = MSG_CANT_OPEN_DIRECTORY;
    cases[1].what = "dot dot";
    cases[1].records.Directory("..");
    cases[1].code = MSG_CANT_OPEN_DIRECTORY;
    cases[2].what = "separator";
    cases[2].records.File("../escaped", TextBytes("x"));
    cases[2].code = MSG_CANT_OPEN_FILE;
    cases[3].what = "up above";
    cases[3].records.Directory("d");
    cases[3].records.Up();
    cases[3].records.Up();
    cases[3].code = MSG_CANT_OPEN_DIRECTORY;
    for (auto& c : cases) {
        c.records.File("escaped", TextBytes("x"));
        c.records.End();
        TempDir dir, parent;
        std::string target = parent / "target";
        ASSERT_EQ(0, mkdir(target.c_str(), 0777));
        ASSERT_EQ(1, OpenAt(WriteInstaller(dir.Path(), MakeArchive(c.records))));
        Host().confineRoot = target;
        EXPECT_EQ(c.code, ExtractInto(target)) << c.what;
        if (std::string(c.what) == "up above")
            EXPECT_STREQ("..", detailText);  // the up record's own failure text
        EXPECT_FALSE(EventsOf(HostEvent::REFUSED).empty()) << c.what;
        EXPECT_TRUE(ReadTree(outside.Path()).empty()) << c.what;
        auto around = ReadTree(parent.Path());
        EXPECT_FALSE(around.count("escaped")) << c.what;
    }
}

TEST(Confinement, OverwriteReplacesOrKeepsExistingFiles)
{
    RecordWriter records;
    records.File("a.txt", TextBytes("new a"));
    records.File("b.txt", TextBytes("new b"), ATTRIBUTE_ARCHIVE | ATTRIBUTE_READONLY);
    records.End();
    TempDir dir;
    std::string program = WriteInstaller(dir.Path(), MakeArchive(records));
    for (bool overwrite : {false, true}) {
        TempDir target;
        WriteBytes(target / "a.txt", TextBytes("old a"));
        WriteBytes(target / "b.txt", TextBytes("old b"));
        ASSERT_EQ(0, chmod((target / "b.txt").c_str(), 0444));
        ASSERT_EQ(1, OpenAt(program));
        Host().confineRoot = target.Path();
        Host().overwrite = overwrite;
        Host().replaceReadOnly = overwrite;
        EXPECT_EQ(0u, ExtractInto(target.Path())) << overwrite;
        EXPECT_EQ(TextBytes(overwrite ? "new a" : "old a"), ReadBytes(target / "a.txt"));
        EXPECT_EQ(TextBytes(overwrite ? "new b" : "old b"), ReadBytes(target / "b.txt"));
        EXPECT_EQ(overwrite ? 0u : 2u, EventsOf(HostEvent::KEPT).size());
        struct stat info;
        ASSERT_EQ(0, stat((target / "b.txt").c_str(), &info));
        EXPECT_EQ(0u, info.st_mode & 0222);  // read-only either way: kept, or as the archive says
    }
}
