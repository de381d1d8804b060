// Archives from anywhere: damaged, truncated, short of a volume, or hostile. Each ends
// with exit 1 and a message naming where, never with a crash or a hang, and extract
// writes nothing outside its folder and leaves no half-written file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "test_quill_support.h"

namespace {

const u64 SEPTEMBER_1998 = 0x01bde82f29e19b00ull;

// A small installer: two files around a folder, one of them over the buffer size.
RecordWriter SmallRecords()
{
    RecordWriter records;
    records.File("first.txt", TextBytes("the first file\r\n"), ATTRIBUTE_ARCHIVE, SEPTEMBER_1998);
    records.Directory("folder");
    Bytes big(90000);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = (u8)("abcabcabd"[i % 9] + (i % 1000 == 0));
    records.File("big.bin", big, ATTRIBUTE_ARCHIVE, SEPTEMBER_1998);
    records.Up();
    records.File("last.txt", TextBytes("the last file"), ATTRIBUTE_ARCHIVE | ATTRIBUTE_READONLY, SEPTEMBER_1998);
    records.End();
    return records;
}

class QuillDamage : public ::testing::Test {
protected:
    std::string Installer(const Bytes& archive, const std::string& name = "setup.exe")
    {
        std::string path = WriteInstaller(dir.Path(), archive);
        if (name != "setup.exe")
            rename(path.c_str(), (dir / name).c_str());
        return dir / name;
    }

    // test and extract both end with exit 1, the message containing what.
    void ExpectDamaged(const std::string& installer, const std::string& what)
    {
        QuillRun test = RunQuill({"test", installer});
        EXPECT_EQ(EXIT_DAMAGED, test.code) << test.err;
        EXPECT_TRUE(Contains(test.err, what)) << test.err;
        QuillRun extract = RunQuill({"extract", installer, "-d", dir / "x"});
        EXPECT_EQ(EXIT_DAMAGED, extract.code) << extract.err;
        EXPECT_TRUE(Contains(extract.err, what)) << extract.err;
        RemoveTreeForTest(dir / "x");
    }

    static void RemoveTreeForTest(const std::string& path)
    {
        std::string command = "chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
        if (system(command.c_str()) != 0) {
        }
    }

    TempDir dir;
};

TEST_F(QuillDamage, FlippedBitsNeverCrashOrHang)
{
    Bytes archive = MakeArchive(SmallRecords());
    ArchiveHeader header;
    memcpy(&header, archive.data(), sizeof(header));
    size_t stream = sizeof(header) + header.stringBlockSize;
    std::string path = dir / "flipped.exe";
    int sound = 0, damaged = 0;
    // The header and every third byte of the string block, every byte of the first record
    // headers, then a stride through the payloads; each in a fresh child with a deadline.
    for (size_t at = 0; at < archive.size(); at += at < 22 || (at >= stream && at < stream + 200) ? 1
                                                  : at < stream ? 3 : 97) {
        Bytes flipped = archive;
        flipped[at] ^= (u8)(1u << (at % 8));
        Bytes file(ARCHIVE_OFFSET, 0);
        file.insert(file.end(), flipped.begin(), flipped.end());
        WriteBytes(path, file);
        QuillRun run = RunQuill({"test", path}, 30);
        ASSERT_FALSE(run.hung) << "byte " << at;
        ASSERT_EQ(0, run.signal) << "byte " << at;
        ASSERT_TRUE(run.code == EXIT_SOUND || run.code == EXIT_DAMAGED) << "byte " << at << ": " << run.err;
        if (run.code == EXIT_DAMAGED)
            EXPECT_FALSE(run.err.empty());
        if (at >= stream)
            (run.code == EXIT_SOUND ? sound : damaged)++;
    }
    // In the record stream only times, attributes and the odd last bits of a bit stream
    // may change unseen; there is no checksum to catch the rest either, but most of it
    // breaks the structure.
    EXPECT_GT(damaged, 2 * sound) << damaged << " damaged, " << sound << " sound";
}

TEST_F(QuillDamage, ExtractOfFlippedBitsStaysInItsFolder)
{
    Bytes archive = MakeArchive(SmallRecords());
    for (size_t at = 20; at < archive.size(); at += 997) {
        Bytes flipped = archive;
        flipped[at] ^= 0x5A;
        std::string path = Installer(flipped);
        MakeDir(dir / "out");
        QuillRun run = RunQuill({"extract", path, "-d", dir / "out/x"}, 30);
        ASSERT_FALSE(run.hung) << at;
        ASSERT_EQ(0, run.signal) << at;
        EXPECT_TRUE(run.code == EXIT_SOUND || run.code == EXIT_DAMAGED) << at << run.err;
        for (const auto& entry : ReadTree(dir / "out"))
            EXPECT_EQ(0u, entry.first.find("x")) << entry.first;
        RemoveTreeForTest(dir / "out");
    }
}

TEST_F(QuillDamage, TruncatedInstallers)
{
    Bytes archive = MakeArchive(SmallRecords());
    ArchiveHeader header;
    memcpy(&header, archive.data(), sizeof(header));
    size_t stream = sizeof(header) + header.stringBlockSize;
    struct Case {
        size_t keep;
        std::string message;
    } cases[] = {
        {0, "holds no archive"},  // the program alone, without disk1.pak
        {10, "Reading header of archive."},
        {stream - 1, "Reading resource of archive."},
        {stream + 7, "record 1 at setup.exe offset " + std::to_string(ARCHIVE_OFFSET + stream)},
        {archive.size() / 2, "disk2.pak is missing (a truncated or missing volume"},
        {archive.size() - 1, "disk2.pak is missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keep);
        ExpectDamaged(Installer(Bytes(archive.begin(), archive.begin() + (long)c.keep)), c.message);
    }
}

TEST_F(QuillDamage, WhereTheDamageIsNamed)
{
    // A type 7 record after the first file: the message gives its number and offset.
    RecordWriter records;
    records.File("first.txt", TextBytes("the first file\r\n"));
    size_t before = records.Bytes().size();
    records.Header(7, 0, 0, 0);
    records.End();
    Bytes archive = MakeArchive(records);
    ArchiveHeader header;
    memcpy(&header, archive.data(), sizeof(header));
    u64 offset = ARCHIVE_OFFSET + sizeof(header) + header.stringBlockSize + before;
    ExpectDamaged(Installer(archive),
                  "setup.exe: record 2 at setup.exe offset " + std::to_string(offset) + ": wrong structure");
}

TEST_F(QuillDamage, BadTypesAndOverlongNames)
{
    for (u8 type : {(u8)0, (u8)5, (u8)255}) {
        RecordWriter records;
        records.File("a.txt", TextBytes("a"));
        records.Header(type, 0, 0, 0);
        records.End();
        SCOPED_TRACE(type);
        ExpectDamaged(Installer(MakeArchive(records)), "wrong structure");
    }
    for (u8 type : {(u8)RECORD_FILE, (u8)RECORD_DIRECTORY}) {
        RecordWriter records;
        records.Header(type, ATTRIBUTE_ARCHIVE, 0, 256);
        records.Raw(Bytes(256, 'n'));
        records.Raw({0, 0, 0, 0, 0, 0, 0, 0});
        records.End();
        ExpectDamaged(Installer(MakeArchive(records)), "or a name longer than 255 bytes");
    }
}

TEST_F(QuillDamage, SizesTotalsAndTrailingBytes)
{
    RecordWriter records = SmallRecords();
    Bytes archive = MakeArchive(records);
    ArchiveHeader header;
    memcpy(&header, archive.data(), sizeof(header));

    Bytes wrongTotal = archive;
    u32 total = header.totalSize + 1;
    memcpy(wrongTotal.data(), &total, 4);
    ExpectDamaged(Installer(wrongTotal), "the files add up to " + std::to_string(header.totalSize) +
                                             " bytes, the header's total is " + std::to_string(total));

    Bytes trailing = archive;
    trailing.insert(trailing.end(), {0, 0, 9});
    ExpectDamaged(Installer(trailing), "3 bytes follow the end record in setup.exe");

    // A size field lowered by one: the decoder still stops on it, the totals tell.
    size_t sizeField = sizeof(header) + header.stringBlockSize + RECORD_HEADER_SIZE + 9;
    Bytes shorter = archive;
    ASSERT_EQ(16, shorter[sizeField]);
    shorter[sizeField] = 15;
    ExpectDamaged(Installer(shorter), "the files add up to " + std::to_string(header.totalSize - 1));

    // Ten equal bytes code as a literal and a match of nine; with the size lowered to 9
    // the match runs past it, which only damage can do.
    RecordWriter run;
    run.File("run.txt", TextBytes("aaaaaaaaaa"));
    run.End();
    Bytes overrun = MakeArchive(run);
    size_t runSize = sizeof(header) + header.stringBlockSize + RECORD_HEADER_SIZE + 7;
    ASSERT_EQ(10, overrun[runSize]);
    overrun[runSize] = 9;
    ExpectDamaged(Installer(overrun), "record 1 at setup.exe offset " +
                                          std::to_string(ARCHIVE_OFFSET + sizeof(header) + header.stringBlockSize) +
                                          " (file \"run.txt\"): the decoder produced 10 bytes where the record holds 9");
}

TEST_F(QuillDamage, VolumesMissingMisplacedOrExtra)
{
    Bytes archive = MakeArchive(SmallRecords());
    size_t third = archive.size() / 3;
    MakeDir(dir / "v");
    MakeDir(dir / "elsewhere");
    WriteVolumes(dir / "v", archive, {third, 2 * third});
    WriteBytes(dir / "v/setup.exe", Bytes(1000, 0));
    EXPECT_EQ(0, RunQuill({"test", dir / "v/disk1.pak"}).code);
    EXPECT_EQ(0, RunQuill({"test", dir / "v/setup.exe"}).code);

    rename((dir / "v/disk3.pak").c_str(), (dir / "elsewhere/disk3.pak").c_str());
    QuillRun missing = RunQuill({"test", dir / "v/setup.exe"});
    EXPECT_EQ(EXIT_DAMAGED, missing.code);
    EXPECT_TRUE(Contains(missing.err, "goes on past the end of disk2.pak, but disk3.pak is missing")) << missing.err;
    QuillRun found = RunQuill({"test", dir / "v/setup.exe", "--volumes", dir / "elsewhere"});
    EXPECT_EQ(0, found.code) << found.err;

    // Volume 1 missing: the installer alone.
    rename((dir / "v/disk1.pak").c_str(), (dir / "elsewhere/disk1.pak").c_str());
    QuillRun alone = RunQuill({"test", dir / "v/setup.exe"});
    EXPECT_EQ(EXIT_DAMAGED, alone.code);
    EXPECT_TRUE(Contains(alone.err, "disk1.pak is neither beside it")) << alone.err;
    EXPECT_EQ(0, RunQuill({"test", dir / "v/setup.exe", "--volumes", dir / "elsewhere"}).code);

    // A volume beyond the end is not part of the archive: told, not fatal.
    WriteBytes(dir / "elsewhere/disk4.pak", Bytes(10, 1));
    QuillRun extra = RunQuill({"test", dir / "elsewhere/disk1.pak", "--volumes", dir / "v"});
    EXPECT_EQ(0, extra.code) << extra.err;
    EXPECT_TRUE(Contains(extra.err, "disk4.pak is not part of this archive (it ends in disk3.pak)")) << extra.err;
    QuillRun second = RunQuill({"test", dir / "v/disk2.pak"});
    EXPECT_EQ(EXIT_USAGE, second.code);
    EXPECT_TRUE(Contains(second.err, "is volume 2; give disk1.pak or the installer"));
}

TEST_F(QuillDamage, ExtractRefusesNamesThatLeaveItsFolder)
{
    struct Case {
        u8 type;
        std::string name;
        const char* why;
    } cases[] = {
        {RECORD_FILE, "..", "name is . or .."},
        {RECORD_DIRECTORY, "..", "name is . or .."},
        {RECORD_DIRECTORY, ".", "name is . or .."},
        {RECORD_FILE, "..\\escape.txt", "name contains a path separator"},
        {RECORD_FILE, "sub/escape.txt", "name contains a path separator"},
        {RECORD_FILE, "\\root.txt", "name contains a path separator"},
        {RECORD_DIRECTORY, "\\tmp", "name contains a path separator"},
        {RECORD_DIRECTORY, "C:\\", "name contains a drive or stream colon"},
        {RECORD_FILE, "C:escape.txt", "name contains a drive or stream colon"},
        {RECORD_DIRECTORY, "C:sub", "name contains a drive or stream colon"},
        {RECORD_UP, "", "up record above the extraction directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + std::to_string(c.type));
        RecordWriter records;
        records.File("fine.txt", TextBytes("fine"));
        if (c.type == RECORD_FILE)
            records.File(c.name, TextBytes("escaped"));
        else if (c.type == RECORD_DIRECTORY)
            records.Directory(c.name);
        else
            records.Up();
        records.File("after.txt", TextBytes("after"));
        records.End();
        std::string installer = Installer(MakeArchive(records));
        MakeDir(dir / "out");
        QuillRun run = RunQuill({"extract", installer, "-d", dir / "out/x"});
        EXPECT_EQ(EXIT_DAMAGED, run.code);
        EXPECT_TRUE(Contains(run.err, "record 2 at setup.exe offset")) << run.err;
        EXPECT_TRUE(Contains(run.err, std::string("refused: ") + (c.name.empty() ? "" : c.name + ": ") + c.why))
            << run.err;
        std::map<std::string, Bytes> expected = {{"x/", {}}, {"x/fine.txt", TextBytes("fine")}};
        EXPECT_EQ(expected, ReadTree(dir / "out"));
        EXPECT_EQ(EXIT_DAMAGED, RunQuill({"test", installer}).code);
        // after.txt must not have landed where a full-path folder name points.
        EXPECT_NE(0, access("/tmp/after.txt", F_OK));
        RemoveTreeForTest(dir / "out");
    }
}

// Hostile archives: one record each between two sound files. extract refuses it naming
// record 2 and writes nothing beside its folder; list and test warn of the ones the
// installer itself would write (outside the install directory, devices), list going on.
enum HostileKind {
    WARNED,       // the installer would write it: list warns and exits 0, test warns and exits 1
    DAMAGE,       // the installer would fail: list and test exit 1
    EXTRACT_ONLY  // sound for Windows, but not to be held on this system: list and test exit 0
};
struct Hostile {
    const char* tries;
    void (*record)(RecordWriter&);
    const char* shown;  // in extract's message
    HostileKind kind;
};
const Hostile HOSTILE[] = {
    {"a parent step through a Windows separator", [](RecordWriter& r) { r.File("..\\x", TextBytes("!")); },
     "..\\x: name contains a path separator", WARNED},
    {"a full path with a drive", [](RecordWriter& r) { r.File("C:\\x", TextBytes("!")); },
     "C:\\x: name contains a drive or stream colon", WARNED},
    {"the drive's root", [](RecordWriter& r) { r.File("\\x", TextBytes("!")); }, "\\x: name contains a path separator",
     WARNED},
    {"POSIX separators and dot-dots", [](RecordWriter& r) { r.File("a/../../x", TextBytes("!")); },
     "a/../../x: name contains a path separator", WARNED},
    {"a folder record out into the canary", [](RecordWriter& r) { r.Directory("..\\canary"); },
     "..\\canary: name contains a path separator", WARNED},
    {"the null device", [](RecordWriter& r) { r.File("NUL", TextBytes("!")); }, "NUL: name is a device", WARNED},
    {"a serial port", [](RecordWriter& r) { r.File("com1", TextBytes("!")); }, "com1: name is a device", WARNED},
    {"a device behind an extension", [](RecordWriter& r) { r.File("Con.txt", TextBytes("!")); },
     "Con.txt: name is a device", WARNED},
    {"a device as a folder", [](RecordWriter& r) { r.Directory("LPT9"); }, "LPT9: name is a device", WARNED},
    {"a stream or drive colon", [](RecordWriter& r) { r.File("a:b", TextBytes("!")); },
     "a:b: name contains a drive or stream colon", WARNED},
    {"a trailing dot Windows drops (x. is x)", [](RecordWriter& r) { r.File("fine.txt.", TextBytes("!")); },
     "fine.txt.: name ends in a dot or a space", WARNED},
    {"a trailing space Windows drops", [](RecordWriter& r) { r.Directory("sub "); },
     "sub : name ends in a dot or a space", WARNED},
    {"a wildcard", [](RecordWriter& r) { r.File("*.txt", TextBytes("!")); },
     "*.txt: name contains a character Windows does not allow", WARNED},
    {"an up record above the root, then a file there",
     [](RecordWriter& r) {
         r.Up();
         r.File("x", TextBytes("!"));
     },
     "up record above the extraction directory", WARNED},
    {"a folder record naming a file written before", [](RecordWriter& r) { r.Directory("fine.txt"); },
     "\"fine.txt\" names both a file and a folder", DAMAGE},
    {"a nameLength of 300", [](RecordWriter& r) { r.Header(RECORD_FILE, 0x20, 0, 300); },
     "a name longer than 255 bytes", DAMAGE},
    {"255 bytes that take 510 in UTF-8", [](RecordWriter& r) { r.File(std::string(255, '\xE9'), TextBytes("!")); },
     "takes 510 bytes in UTF-8", EXTRACT_ONLY},
};

TEST_F(QuillDamage, HostileArchivesLeaveTheCanaryAlone)
{
    MakeDir(dir / "canary");
    WriteBytes(dir / "canary/x", TextBytes("canary"));
    for (const Hostile& h : HOSTILE) {
        SCOPED_TRACE(h.tries);
        RecordWriter records;
        records.File("fine.txt", TextBytes("fine"));
        h.record(records);
        records.File("after.txt", TextBytes("after"));
        records.End();
        std::string installer = Installer(MakeArchive(records));
        QuillRun run = RunQuill({"extract", installer, "-d", dir / "x"});
        EXPECT_EQ(EXIT_DAMAGED, run.code);
        EXPECT_TRUE(Contains(run.err, "record 2 at setup.exe offset")) << run.err;
        EXPECT_TRUE(Contains(run.err, h.shown)) << run.err;
        std::map<std::string, Bytes> expected = {{"canary/", {}},      {"canary/x", TextBytes("canary")},
                                                 {"setup.exe", ReadBytes(installer)}, {"x/", {}},
                                                 {"x/fine.txt", TextBytes("fine")}};
        EXPECT_EQ(expected, ReadTree(dir.Path()));
        QuillRun list = RunQuill({"list", installer});
        QuillRun test = RunQuill({"test", installer});
        EXPECT_EQ(h.kind == DAMAGE ? EXIT_DAMAGED : EXIT_SOUND, list.code) << list.err;
        EXPECT_EQ(h.kind == EXTRACT_ONLY ? EXIT_SOUND : EXIT_DAMAGED, test.code) << test.err;
        if (h.kind == WARNED) {
            EXPECT_TRUE(Contains(list.err, "warning: record 2 at setup.exe offset")) << list.err;
            EXPECT_TRUE(Contains(test.err, "warning: record 2 at setup.exe offset")) << test.err;
            EXPECT_TRUE(Contains(list.out, "after.txt")) << list.out;  // the walk went on
            EXPECT_EQ(list.err.find("record 2 at"), list.err.rfind("record 2 at")) << list.err;  // once
        }
        RemoveTreeForTest(dir / "x");
    }
    // Every such record is warned of, not only the first; a 255-byte name is no fault.
    RecordWriter records;
    records.File(std::string(255, 'n'), TextBytes("0"));
    records.File("NUL", TextBytes("1"));
    records.Up();
    records.File("x", TextBytes("2"));
    records.End();
    std::string installer = Installer(MakeArchive(records));
    QuillRun list = RunQuill({"list", installer});
    EXPECT_EQ(EXIT_SOUND, list.code);
    for (const char* what : {"record 2 at setup.exe offset", "NUL: name is a device", "record 3 at setup.exe offset",
                             "up record above the install directory", "record 4 at setup.exe offset",
                             "x: outside the install directory"})
        EXPECT_TRUE(Contains(list.err, what)) << what << "\n" << list.err;
    EXPECT_FALSE(Contains(list.err, "record 1 at")) << list.err;
    RecordWriter plain;
    plain.File(std::string(255, 'n'), TextBytes("3"));
    plain.End();
    EXPECT_EQ(EXIT_SOUND, RunQuill({"extract", Installer(MakeArchive(plain)), "-d", dir / "x", "-q"}).code);
    EXPECT_EQ(TextBytes("3"), ReadBytes(dir / "x/" + std::string(255, 'n')));
}

TEST_F(QuillDamage, AHalfWrittenFileIsRemoved)
{
    Bytes archive = MakeArchive(SmallRecords());
    // Cut inside big.bin's bit stream.
    std::string installer = Installer(Bytes(archive.begin(), archive.begin() + (long)archive.size() / 2));
    QuillRun run = RunQuill({"extract", installer, "-d", dir / "x"});
    EXPECT_EQ(EXIT_DAMAGED, run.code);
    EXPECT_TRUE(Contains(run.err, "record 3 at setup.exe offset")) << run.err;
    EXPECT_TRUE(Contains(run.err, "(file \"folder/big.bin\")")) << run.err;
    EXPECT_TRUE(Contains(run.err, "removed the incomplete file " + dir / "x/folder/big.bin")) << run.err;
    std::map<std::string, Bytes> expected = {{"first.txt", TextBytes("the first file\r\n")}, {"folder/", {}}};
    EXPECT_EQ(expected, ReadTree(dir / "x"));
}

TEST_F(QuillDamage, ExistingFilesKeptOrReplaced)
{
    std::string installer = Installer(MakeArchive(SmallRecords()));
    MakeDir(dir / "x");
    WriteBytes(dir / "x/first.txt", TextBytes("mine"));
    QuillRun keep = RunQuill({"extract", installer, "-d", dir / "x"});
    EXPECT_EQ(0, keep.code) << keep.err;
    EXPECT_TRUE(Contains(keep.err, "kept the existing " + dir / "x/first.txt")) << keep.err;
    EXPECT_EQ(TextBytes("mine"), ReadBytes(dir / "x/first.txt"));
    EXPECT_EQ(TextBytes("the last file"), ReadBytes(dir / "x/last.txt"));
    // last.txt is read-only now; replacing was asked for, so it is replaced all the same.
    WriteBytes(dir / "x/folder/big.bin", TextBytes("mine too"));
    QuillRun replace = RunQuill({"extract", installer, "-d", dir / "x", "--overwrite"});
    EXPECT_EQ(0, replace.code) << replace.err;
    EXPECT_EQ(TextBytes("the first file\r\n"), ReadBytes(dir / "x/first.txt"));
    EXPECT_EQ(90000u, ReadBytes(dir / "x/folder/big.bin").size());
    struct stat info;
    ASSERT_EQ(0, stat((dir / "x/last.txt").c_str(), &info));
    EXPECT_FALSE(info.st_mode & S_IWUSR);
    ASSERT_EQ(0, stat((dir / "x/first.txt").c_str(), &info));
    EXPECT_EQ(906691790, info.st_mtim.tv_sec);
}

TEST_F(QuillDamage, DamagedStringBlockIsReported)
{
    // messagesOffset past the block: the installer would show empty texts.
    Bytes archive = MakeArchive(SmallRecords());
    ArchiveHeader header;
    memcpy(&header, archive.data(), sizeof(header));
    header.messagesOffset = header.stringBlockSize + 5;
    memcpy(archive.data(), &header, sizeof(header));
    std::string installer = Installer(archive);
    QuillRun test = RunQuill({"test", installer});
    EXPECT_EQ(EXIT_DAMAGED, test.code);
    EXPECT_TRUE(Contains(test.err, "the string block lacks entries")) << test.err;
    QuillRun list = RunQuill({"list", installer});
    EXPECT_EQ(EXIT_DAMAGED, list.code);
    EXPECT_TRUE(Contains(list.out, "string block  ")) << list.out;
    EXPECT_TRUE(Contains(list.out, "DAMAGED")) << list.out;
}

}  // namespace
