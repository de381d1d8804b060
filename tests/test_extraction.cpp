// The worker over whole archives: the record walk, volumes cut anywhere, resynchronisation
// on the padding, progress, the post-install command, and every failure with its message
// id and detail text.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "archive/archive.h"
#include "archive/commands.h"
#include "archive/context.h"
#include "archive/messages.h"
#include "archive/volume.h"
#include "extract/lzari.h"
#include "pack/lzari_encoder.h"
#include "harness.h"

namespace {

const u64 SEPTEMBER_1998 = 0x01bde82f29e19b00ull;  // 1998-09-... as in the format's example

// A small tree: a directory with a file, an empty file, a read-only file, back up, a file
// over the buffer size.
RecordWriter SmallTree()
{
    RecordWriter records;
    records.File("readme.txt", TextBytes("Read me first.\r\n"), ATTRIBUTE_ARCHIVE, SEPTEMBER_1998);
    records.Directory("bin");
    records.File("tool.dat", RandomBytes(3000, 7));
    records.File("empty.txt", {});
    records.File("locked.txt", TextBytes("cannot touch this"), ATTRIBUTE_ARCHIVE | ATTRIBUTE_READONLY);
    records.Directory("deeper");
    records.Up();
    records.Up();
    Bytes big = TextBytes(std::string(70000, 'a'));
    for (size_t i = 0; i < big.size(); i += 997)
        big[i] = (u8)('b' + i % 20);
    records.File("big.bin", big);
    records.End();
    return records;
}

std::map<std::string, Bytes> SmallTreeExpected()
{
    std::map<std::string, Bytes> tree;
    tree["readme.txt"] = TextBytes("Read me first.\r\n");
    tree["bin/"] = {};
    tree["bin/tool.dat"] = RandomBytes(3000, 7);
    tree["bin/empty.txt"] = {};
    tree["bin/locked.txt"] = TextBytes("cannot touch this");
    tree["bin/deeper/"] = {};
    Bytes big = TextBytes(std::string(70000, 'a'));
    for (size_t i = 0; i < big.size(); i += 997)
        big[i] = (u8)('b' + i % 20);
    tree["big.bin"] = big;
    return tree;
}

// Opens the installer or disk1.pak in dir and extracts into a fresh directory.
struct Outcome {
    u32 code;
    std::map<std::string, Bytes> tree;
};

Outcome InstallFrom(const std::string& program, const TempDir& target)
{
    EXPECT_EQ(1, OpenAt(program));
    Outcome outcome;
    outcome.code = ExtractInto(target.Path());
    outcome.tree = ReadTree(target.Path());
    return outcome;
}

std::string Status(size_t index)
{
    auto texts = EventsOf(HostEvent::CONTROL_TEXT);
    return index < texts.size() ? texts[index].text : "<none>";
}

}  // namespace

TEST(Extraction, WholeTreeWithTimesAttributesAndTexts)
{
    TempDir dir, target;
    RecordWriter records = SmallTree();
    StringBlockContent content;
    content.postInstall = "bin\\tool.exe /setup";
    std::string program = WriteInstaller(dir.Path(), MakeArchive(records, content));
    Outcome outcome = InstallFrom(program, target);
    ASSERT_EQ(0u, outcome.code);
    EXPECT_EQ(SmallTreeExpected(), outcome.tree);

    struct stat info;
    ASSERT_EQ(0, stat((target / "readme.txt").c_str(), &info));
    EXPECT_EQ((SEPTEMBER_1998 - 116444736000000000ull) / 10000000, (u64)info.st_mtim.tv_sec);
    ASSERT_EQ(0, stat((target / "bin/locked.txt").c_str(), &info));
    EXPECT_EQ(0u, info.st_mode & 0222);
    ASSERT_EQ(0, stat((target / "bin/tool.dat").c_str(), &info));
    EXPECT_NE(0u, info.st_mode & 0200);

    // Status line and button: cleared and Break first, each file's full path, then the
    // completion texts; the group command is posted; the command started where the walk
    // ended, the install directory.
    auto texts = EventsOf(HostEvent::CONTROL_TEXT);
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(CONTROL_STATUS_LINE, texts[0].id);
    EXPECT_EQ("", texts[0].text);
    EXPECT_EQ(CONTROL_ACTION_BUTTON, texts[1].id);
    EXPECT_EQ("Break", texts[1].text);
    EXPECT_EQ(ToWindowsPath(target / "readme.txt"), texts[2].text);
    EXPECT_EQ(ToWindowsPath(target / "bin/tool.dat"), texts[3].text);
    EXPECT_EQ("Install complete succesfully", texts[texts.size() - 2].text);
    EXPECT_EQ(CONTROL_ACTION_BUTTON, texts.back().id);
    EXPECT_EQ("OK", texts.back().text);
    EXPECT_EQ(1u, EventsOf(HostEvent::CREATE_GROUP).size());
    auto started = EventsOf(HostEvent::START_PROCESS);
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("bin\\tool.exe /setup", started[0].text);
    EXPECT_EQ(target.Path(), started[0].caption);
    EXPECT_TRUE(BoxTexts().empty());
    // Everything released.
    EXPECT_EQ(nullptr, context.readBuffer);
    EXPECT_EQ(nullptr, context.outputBuffer);
    EXPECT_EQ(nullptr, context.volumeHandle);
}

TEST(Extraction, ProgressRangeAndPositions)
{
    TempDir dir, target;
    RecordWriter records;
    records.File("a", TextBytes(std::string(40000, 'q')));
    records.File("b", TextBytes("x"));
    records.End();
    std::string program = WriteInstaller(dir.Path(), MakeArchive(records));
    ASSERT_EQ(1, OpenAt(program));
    ASSERT_EQ(0u, ExtractInto(target.Path()));
    std::vector<std::pair<u32, u32>> bar;
    for (const auto& event : EventsOf(HostEvent::BAR))
        bar.push_back({event.id, event.value});
    // The range; a report at each threshold passed within a file, carrying bytesDone plus
    // the threshold; one after each file carrying the new bytesDone.
    std::vector<std::pair<u32, u32>> expected = {
        {BAR_SETMIN, 0}, {BAR_SETMAX, 40001},
        {BAR_SETPOS, 0}, {BAR_SETPOS, 0x3E00}, {BAR_SETPOS, 0x7C00}, {BAR_SETPOS, 40000},
        {BAR_SETPOS, 40000}, {BAR_SETPOS, 40001}};
    EXPECT_EQ(expected, bar);
}

TEST(Extraction, EmptyStreamStillFinishes)
{
    TempDir dir, target;
    RecordWriter records;
    records.End();
    Outcome outcome = InstallFrom(WriteInstaller(dir.Path(), MakeArchive(records)), target);
    EXPECT_EQ(0u, outcome.code);
    EXPECT_TRUE(outcome.tree.empty());
    EXPECT_TRUE(EventsOf(HostEvent::START_PROCESS).empty());  // empty command: none started
    EXPECT_EQ(1u, EventsOf(HostEvent::CREATE_GROUP).size());
    EXPECT_EQ("Install complete succesfully", Status(EventsOf(HostEvent::CONTROL_TEXT).size() - 2));
}

TEST(Extraction, PostInstallCommandThatCannotStart)
{
    // A command the system refuses, and one too long for the 255-character command line:
    // cut, "... /KEEP-DATA" could become "... /KEEP" and do something else, so it is never
    // run. Both show message 15 and the install still ends with 0.
    std::string longCommand = "setup.exe " + std::string(245, 'x') + " /KEEP-DATA";
    for (const std::string& command : {std::string("missing.exe"), longCommand}) {
        SCOPED_TRACE(command.size());
        TempDir dir, target;
        RecordWriter records;
        records.End();
        StringBlockContent content;
        content.postInstall = command;
        std::string program = WriteInstaller(dir.Path(), MakeArchive(records, content));
        ASSERT_EQ(1, OpenAt(program));
        Host().startProcess = [&](const std::string&) { return command != "missing.exe"; };
        EXPECT_EQ(0u, ExtractInto(target.Path()));
        auto boxes = EventsOf(HostEvent::MESSAGE_BOX);
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(("Can't run process " + command).substr(0, TEXT_SIZE - 1), boxes[0].text);
        EXPECT_EQ("Attention", boxes[0].caption);
        EXPECT_EQ((u32)BOX_ICON_INFORMATION, boxes[0].value);
        EXPECT_EQ(1u, EventsOf(HostEvent::CREATE_GROUP).size());
        EXPECT_EQ(command == "missing.exe" ? 1u : 0u, EventsOf(HostEvent::START_PROCESS).size());
    }
    // 255 characters fit and run whole.
    TempDir dir, target;
    RecordWriter records;
    records.End();
    StringBlockContent content;
    content.postInstall = longCommand.substr(longCommand.size() - 255);
    ASSERT_EQ(1, OpenAt(WriteInstaller(dir.Path(), MakeArchive(records, content))));
    EXPECT_EQ(0u, ExtractInto(target.Path()));
    auto started = EventsOf(HostEvent::START_PROCESS);
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ(content.postInstall, started[0].text);
    EXPECT_TRUE(EventsOf(HostEvent::MESSAGE_BOX).empty());
}

// The installer holds names as UTF-8, converted from the archive's code page as they are
// read: a Cyrillic name of 255 bytes in code page 1251 takes 510, and reaches every
// platform call whole.
TEST(Extraction, NamesConvertedFromTheCodePageKeepEveryCharacter)
{
    TempDir dir;
    RecordWriter records;
    records.Directory(std::string(120, '\xC0'));
    records.File(std::string(255, '\xE0'), TextBytes("x"));
    records.Up();
    records.End();
    ASSERT_EQ(1, OpenAt(WriteInstaller(dir.Path(), MakeArchive(records))));
    // 1251's 0xC0 to 0xFF are U+0410 to U+044F, two bytes each in UTF-8.
    Host().archiveText = [](const char* stored) {
        std::string utf8;
        for (const char* p = stored; *p; p++) {
            u32 c = (u8)*p >= 0xC0 ? 0x410 + (u8)*p - 0xC0 : (u8)*p;
            if (c < 0x80)
                utf8 += (char)c;
            else
                utf8 += {(char)(0xC0 | c >> 6), (char)(0x80 | (c & 0x3F))};
        }
        return utf8;
    };
    Host().discardOutput = true;
    EXPECT_EQ(0u, ExtractInto(dir.Path()));
    std::string a;  // 0xE0 is а
    for (int i = 0; i < 255; i++)
        a += "\xD0\xB0";
    auto attributes = EventsOf(HostEvent::ATTRIBUTES);
    ASSERT_EQ(1u, attributes.size());
    EXPECT_EQ(510u, attributes[0].text.size());
    EXPECT_EQ(a, attributes[0].text);
    bool shown = false;
    for (const HostEvent& event : EventsOf(HostEvent::CONTROL_TEXT))
        shown = shown || (event.text.size() >= a.size() && event.text.substr(event.text.size() - a.size()) == a);
    EXPECT_TRUE(shown) << "the status line names the file whole";
}

TEST(Extraction, ExistingDirectoriesAndUpRecords)
{
    TempDir dir, parent;
    std::string target = parent / "install";
    ASSERT_EQ(0, mkdir(target.c_str(), 0777));
    ASSERT_EQ(0, mkdir((target + "/bin").c_str(), 0777));
    RecordWriter records;
    records.Directory("bin");  // exists: entered without complaint
    records.File("x", TextBytes("1"));
    records.Up();
    records.Up();  // leaves the install directory: nothing stops the installer's walk
    records.File("outside", TextBytes("2"));
    records.End();
    ASSERT_EQ(1, OpenAt(WriteInstaller(dir.Path(), MakeArchive(records))));
    ASSERT_EQ(0u, ExtractInto(target));
    EXPECT_EQ(TextBytes("1"), ReadBytes(target + "/bin/x"));
    EXPECT_EQ(TextBytes("2"), ReadBytes(parent / "outside"));
}

TEST(Extraction, ResynchronisesOnZeroToFourPaddingBytes)
{
    // An empty file's payload is just its size; the next record may follow at once or
    // after up to four zero bytes.
    for (u32 zeros = 0; zeros <= 4; zeros++) {
        TempDir dir, target;
        RecordWriter records;
        records.Header(RECORD_FILE, ATTRIBUTE_ARCHIVE, 0, 1);
        records.Raw({'e', 0, 0, 0, 0});
        records.Raw(Bytes(zeros, 0));
        records.File("f", TextBytes("after"));
        records.End();
        Outcome outcome = InstallFrom(WriteInstaller(dir.Path(), MakeArchive(records)), target);
        EXPECT_EQ(0u, outcome.code) << zeros;
        std::map<std::string, Bytes> expected = {{"e", {}}, {"f", TextBytes("after")}};
        EXPECT_EQ(expected, outcome.tree) << zeros;
    }
}

TEST(Extraction, DecoderReadAheadStaysInsideThePadding)
{
    // The decoder loads 17 bits ahead, so it takes some of the zero bytes behind its bit
    // stream, never more than the four there are; the resynchronisation then finds the
    // next record whatever it took.
    std::map<u32, int> taken;
    for (u32 size = 1; size < 3000; size += 37) {
        Bytes data = RandomBytes(size, size);
        if (size % 2)
            data = TextBytes(std::string(size, 'z'));
        Bytes payload;
        LzariEncodePayload(data.data(), data.size(), payload);
        ASSERT_LT(payload.size(), (size_t)STREAM_BUFFER_SIZE);
        ResetHost();
        TempDir dir;
        context.readBuffer = (u8*)PlatAlloc(STREAM_BUFFER_SIZE);
        context.outputBuffer = (u8*)PlatAlloc(STREAM_BUFFER_SIZE);
        std::memcpy(context.readBuffer, payload.data(), payload.size());
        context.readFill = (u32)payload.size();
        context.outputHandle = PlatCreateOutput(ToWindowsPath(dir / "out").c_str());
        ResetDecoder(&context);
        EXPECT_EQ(size, DecodeFile());
        EXPECT_EQ(size, DecodedCount());
        EXPECT_EQ(0, LastInputByte()) << size;
        u32 streamEnd = (u32)payload.size() - PADDING_SIZE;
        ASSERT_GE(context.readPos, 4u) << size;
        ASSERT_LE(context.readPos, (u32)payload.size()) << size;
        taken[context.readPos > streamEnd ? context.readPos - streamEnd : 0]++;
        PlatClose(context.outputHandle);
        context.outputHandle = nullptr;
        EXPECT_EQ(data, ReadBytes(dir / "out")) << size;
        PlatFree(context.readBuffer);
        PlatFree(context.outputBuffer);
        context.readBuffer = context.outputBuffer = nullptr;
    }
    for (const auto& entry : taken)
        EXPECT_LE(entry.first, (u32)PADDING_SIZE);
}

TEST(Extraction, PayloadCutShortDoesNotEndInThePadding)
{
    // A size field smaller than what the bit stream holds: the decoder stops inside the
    // stream, on a byte that is not padding, which the tools report as damage.
    Bytes data = RandomBytes(3000, 77);
    Bytes payload;
    LzariEncodePayload(data.data(), data.size(), payload);
    u32 shorter = 1000;
    std::memcpy(payload.data(), &shorter, 4);
    ResetHost();
    context.readBuffer = (u8*)PlatAlloc(STREAM_BUFFER_SIZE);
    context.outputBuffer = (u8*)PlatAlloc(STREAM_BUFFER_SIZE);
    std::memcpy(context.readBuffer, payload.data(), payload.size());
    context.readFill = (u32)payload.size();
    TempDir dir;
    context.outputHandle = PlatCreateOutput(ToWindowsPath(dir / "out").c_str());
    ResetDecoder(&context);
    EXPECT_EQ(shorter, DecodeFile());
    EXPECT_NE(0, LastInputByte());
    EXPECT_LT(context.readPos, (u32)payload.size() - PADDING_SIZE);
    PlatClose(context.outputHandle);
    context.outputHandle = nullptr;
    PlatFree(context.readBuffer);
    PlatFree(context.outputBuffer);
    context.readBuffer = context.outputBuffer = nullptr;
}

TEST(Volumes, NameBuilding)
{
    char out[TEXT_SIZE];
    EXPECT_STREQ("disk1.pak", VolumeFileName(1, out));
    EXPECT_STREQ("disk10.pak", VolumeFileName(10, out));
    EXPECT_STREQ("disk4294967295.pak", VolumeFileName(0xFFFFFFFF, out));  // the longest fits
    EXPECT_STREQ("A:\\disk2.pak", VolumePath("A:\\", 2, out));
    EXPECT_STREQ("C:\\Setup\\disk3.pak", VolumePath("C:\\Setup", 3, out));
    EXPECT_STREQ("C:\\disk12.pak", VolumePath("C:", 12, out));
}

TEST(Volumes, TwoVolumesCutAtEveryByte)
{
    // A small archive: record headers, names, size fields, bit streams and padding are
    // each cut somewhere along the way.
    RecordWriter records;
    records.Directory("d");
    records.File("one.txt", TextBytes("hello hello hello"));
    records.File("nil", {});
    records.Up();
    records.File("two.bin", RandomBytes(40, 3));
    records.End();
    Bytes archive = MakeArchive(records);
    ArchiveHeader header;
    std::memcpy(&header, archive.data(), sizeof(header));
    size_t streamStart = sizeof(header) + header.stringBlockSize;
    std::map<std::string, Bytes> expected = {
        {"d/", {}}, {"d/one.txt", TextBytes("hello hello hello")}, {"d/nil", {}},
        {"two.bin", RandomBytes(40, 3)}};
    for (size_t cut = streamStart; cut <= archive.size(); cut++) {
        TempDir dir, target;
        WriteVolumes(dir.Path(), archive, {cut});
        WriteBytes(dir / "setup.exe", Bytes(1000, 0));
        Outcome outcome = InstallFrom(dir / "setup.exe", target);
        ASSERT_EQ(0u, outcome.code) << "cut at " << cut;
        ASSERT_EQ(expected, outcome.tree) << "cut at " << cut;
        // The stream ending exactly at the volume's end opens no further volume.
        EXPECT_TRUE(EventsOf(HostEvent::OPEN_FILE).empty()) << cut;
    }
    // Three volumes, cut at several pairs of places; and an appended archive continued in
    // disk2.pak and disk3.pak.
    for (size_t a = streamStart; a < archive.size(); a += 5) {
        for (size_t b = a; b <= archive.size(); b += 11) {
            TempDir dir, target;
            WriteVolumes(dir.Path(), archive, {a, b});
            WriteBytes(dir / "setup.exe", Bytes(1000, 0));
            Outcome outcome = InstallFrom(dir / "setup.exe", target);
            ASSERT_EQ(0u, outcome.code) << a << "," << b;
            ASSERT_EQ(expected, outcome.tree) << a << "," << b;
        }
        TempDir dir, target;
        WriteVolumes(dir.Path(), archive, {a, (a + archive.size()) / 2});
        Bytes installer(ARCHIVE_OFFSET, 0);
        Bytes first = ReadBytes(dir / "disk1.pak");
        installer.insert(installer.end(), first.begin(), first.end());
        WriteBytes(dir / "setup.exe", installer);
        ASSERT_EQ(0, unlink((dir / "disk1.pak").c_str()));
        Outcome outcome = InstallFrom(dir / "setup.exe", target);
        ASSERT_EQ(0u, outcome.code) << a;
        ASSERT_EQ(expected, outcome.tree) << a;
    }
}

TEST(Volumes, BitStreamSpanningManyVolumes)
{
    RecordWriter records;
    Bytes data = RandomBytes(200000, 11);
    records.File("big", data);
    records.End();
    Bytes archive = MakeArchive(records);
    std::vector<size_t> cuts;
    for (size_t at = 30000; at < archive.size(); at += 30001)
        cuts.push_back(at);
    TempDir dir, target;
    WriteVolumes(dir.Path(), archive, cuts);
    WriteBytes(dir / "setup.exe", Bytes(10, 0));
    Outcome outcome = InstallFrom(dir / "setup.exe", target);
    ASSERT_EQ(0u, outcome.code);
    EXPECT_EQ(data, outcome.tree["big"]);
}

TEST(Volumes, MissingVolumeChosenElsewhereMovesTheArchiveDirectory)
{
    RecordWriter records;
    records.File("a", RandomBytes(5000, 1));
    records.File("b", RandomBytes(5000, 2));
    records.End();
    Bytes archive = MakeArchive(records);
    TempDir dir, other, target;
    size_t third = archive.size() / 3;
    WriteVolumes(dir.Path(), archive, {third, 2 * third});
    WriteBytes(dir / "setup.exe", Bytes(10, 0));
    ASSERT_EQ(0, rename((dir / "disk2.pak").c_str(), (other / "disk2.pak").c_str()));
    ASSERT_EQ(0, rename((dir / "disk3.pak").c_str(), (other / "disk3.pak").c_str()));
    ASSERT_EQ(1, OpenAt(dir / "setup.exe"));
    std::vector<std::string> asked;
    Host().openFile = [&](const std::string& initial) {
        asked.push_back(initial);
        return std::optional<std::string>(other / initial);
    };
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
    ASSERT_EQ(0u, ExtractInto(target.Path()));
    // Only disk2.pak was asked for: disk3.pak was then found beside it.
    EXPECT_EQ(std::vector<std::string>{"disk2.pak"}, asked);
    EXPECT_EQ(ToWindowsPath(other.Path()), archiveDir);
    EXPECT_EQ(RandomBytes(5000, 2), ReadBytes(target / "b"));
    EXPECT_EQ(3u, context.volumeNumber);
}

TEST(Volumes, RequestsOutsideTheBufferEndTheWorkerInEveryBuild)
{
    // The format asks for 255 bytes at most; a request the buffer cannot serve, or a step
    // back past what was delivered, is a fault that must end the worker with a message id
    // (the installer is built without assertions), releasing what it holds.
    TempDir dir, target;
    RecordWriter records;
    records.File("a.txt", TextBytes("a"));
    records.End();
    std::string program = WriteInstaller(dir.Path(), MakeArchive(records));
    const std::function<void()> faults[] = {
        [] { ReadStream(STREAM_BUFFER_SIZE + 1, nullptr); },
        [] { ReadStream(0, nullptr); },
        [] { StepBack(context.readPos + 1); },
    };
    for (const auto& fault : faults) {
        ASSERT_EQ(1, OpenAt(program));
        Host().safePoint = [&] {
            fault();
            return false;
        };
        EXPECT_EQ((u32)MSG_SYSTEM_ERROR, ExtractInto(target.Path()));
        EXPECT_EQ(1u, EventsOf(HostEvent::ABORTED).size());
        EXPECT_EQ(nullptr, context.readBuffer);
        EXPECT_EQ(nullptr, context.volumeHandle);
    }
}

TEST(Volumes, StepBackAfterARefill)
{
    // A 15-byte request with 5 unread bytes moves them to the front and refills behind
    // them; the bytes delivered stay together so StepBack can give all 15 back.
    TempDir dir;
    Bytes stream(200000);
    for (size_t i = 0; i < stream.size(); i++)
        stream[i] = (u8)(i * 7 + i / 256);
    WriteBytes(dir / "vol", stream);
    ResetHost();
    context.readBuffer = (u8*)PlatAlloc(STREAM_BUFFER_SIZE);
    context.volumeNumber = 1;
    OpenVolume(ToWindowsPath(dir / "vol").c_str());
    size_t at = 0;
    u8 out[20];
    ReadStream(STREAM_BUFFER_SIZE - 5, nullptr);
    at += STREAM_BUFFER_SIZE - 5;
    EXPECT_EQ(stream[at + 14], ReadStream(15, out));
    EXPECT_EQ(0, std::memcmp(out, &stream[at], 15));
    EXPECT_EQ(15u, context.readPos);
    StepBack(15);
    EXPECT_EQ(stream[at + 3], ReadStream(4, out));
    EXPECT_EQ(0, std::memcmp(out, &stream[at], 4));
    StepBack(3);
    EXPECT_EQ(stream[at + 1], ReadStream(1, nullptr));
    PlatClose(context.volumeHandle);
    PlatFree(context.readBuffer);
    context.volumeHandle = nullptr;
    context.readBuffer = nullptr;
}
