// Writes the installers that the Wine tests run, each with the tree it should install.
// The archive bytes are laid out here independently of the core's own writer (only the
// LZARI encoder is shared), so a layout fault in one is not mirrored in the other.
//
//   make_fixtures STUB.exe OUTDIR
//
// For each fixture OUTDIR/NAME/ gets setup.exe (or setup.exe and disk1..N.pak), source/
// (the files as they must come out) and expect.txt, one line per entry:
//   F|relative\path|size|attributes|filetime      D|relative\path
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "../../pack/lzari_encoder.h"

typedef std::vector<u8> Bytes;

static const char* const englishMessages[28] = {
    "Attention", "Cancel", "Select directory", "Browse...", "Exit", "Can't read disk %s",
    "Can't open directory %s", "Can't create directory %s", "OK", "Can't open file %s",
    "Error writing into file %s", "Confirmation", "Break", "System error",
    "Can't run process %s", "Error reading file %s", "Error", "Directory of install",
    "Create folder", "Required %lu Kbytes", "Quillstead", "Break installation?",
    "Are not you going to install?", "Install complete succesfully", "Insert disk %i",
    "Wrong structure of archive %s", "Quill test top line",
    "You have %lu kbytes free space, but need %lu kbytes."};
enum { TOP_LINE_INDEX = 26 };  // id 120, stored with every byte raised by 16

static void Put16(Bytes& out, u32 v)
{
    out.push_back((u8)v);
    out.push_back((u8)(v >> 8));
}

static void Put32(Bytes& out, u32 v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

static void PutText(Bytes& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// 1 January 1601 to 1 January 1970, in 100 ns units.
static u64 FileTimeOfUnix(u64 seconds)
{
    return (seconds + 11644473600ull) * 10000000ull;
}

struct Fixture {
    std::string dir;        // OUTDIR/NAME
    std::string postInstall;
    std::string installDir = "QuillTest\\Product";
    u8 maximized = 1;
    u32 totalSizeOverride = 0;  // nonzero: written instead of the sum of the file sizes
    std::string groupName;
    std::vector<std::pair<std::string, std::string>> groupItems;  // title, path
    Bytes records;
    u64 totalSize = 0;
    std::vector<std::string> path;  // directories entered, for expect.txt
    std::string expect;

    explicit Fixture(const std::string& out, const std::string& name) : dir(out + "/" + name)
    {
        mkdir(dir.c_str(), 0755);
        mkdir((dir + "/source").c_str(), 0755);
    }

    std::string Relative(const std::string& name) const
    {
        std::string r;
        for (const std::string& p : path)
            r += p + "\\";
        return r + name;
    }
    std::string NativeSource(const std::string& name) const
    {
        std::string r = dir + "/source/";
        for (const std::string& p : path)
            r += p + "/";
        return r + name;
    }

    void Header(u8 type, u32 attributes, u64 fileTime, u32 nameLength)
    {
        records.push_back(type);
        Put32(records, attributes);
        Put32(records, (u32)fileTime);
        Put32(records, (u32)(fileTime >> 32));
        Put16(records, nameLength);
    }
    void Directory(const std::string& name)
    {
        Header(2, 0, 0, (u32)name.size());
        records.insert(records.end(), name.begin(), name.end());
        path.push_back(name);
        mkdir(NativeSource("").c_str(), 0755);
        expect += "D|" + Relative("") + "\n";
    }
    void Up()
    {
        Header(3, 0, 0, 0);
        path.pop_back();
    }
    void File(const std::string& name, const Bytes& data, u32 attributes, u64 fileTime)
    {
        Header(1, attributes, fileTime, (u32)name.size());
        records.insert(records.end(), name.begin(), name.end());
        LzariEncodePayload(data.data(), data.size(), records);
        totalSize += data.size();
        FILE* f = fopen(NativeSource(name).c_str(), "wb");
        if (!f || (data.size() && fwrite(data.data(), 1, data.size(), f) != data.size())) {
            perror(name.c_str());
            exit(1);
        }
        fclose(f);
        expect += "F|" + Relative(name) + "|" + std::to_string(data.size()) + "|" +
                  std::to_string(attributes) + "|" + std::to_string(fileTime) + "\n";
    }
    void End() { Header(4, 0, 0, 0); }

    Bytes Archive() const
    {
        Bytes block;
        PutText(block, "Quill Test Product");
        PutText(block, "Quill Test Setup");
        PutText(block, installDir);
        PutText(block, postInstall);
        u32 groupItemsOffset = 0;
        if (!groupItems.empty()) {
            PutText(block, groupName);
            groupItemsOffset = (u32)block.size();
            for (const auto& item : groupItems) {
                PutText(block, item.first);
                PutText(block, item.second);
            }
        }
        u32 messagesOffset = (u32)block.size();
        for (int i = 0; i < 28; i++) {
            std::string text = englishMessages[i];
            if (i == TOP_LINE_INDEX)
                for (char& c : text)
                    c = (char)(c + 16);
            PutText(block, text);
        }
        Bytes archive;
        Put32(archive, totalSizeOverride ? totalSizeOverride : (u32)totalSize);
        Put32(archive, (u32)block.size());
        Put16(archive, (u32)groupItems.size());
        Put16(archive, 0);
        archive.push_back(maximized);
        archive.push_back(0);
        Put32(archive, groupItemsOffset);
        Put32(archive, messagesOffset);
        archive.insert(archive.end(), block.begin(), block.end());
        archive.insert(archive.end(), records.begin(), records.end());
        return archive;
    }

    void Write(const std::string& name, const Bytes& bytes) const
    {
        FILE* f = fopen((dir + "/" + name).c_str(), "wb");
        if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            perror(name.c_str());
            exit(1);
        }
        fclose(f);
    }
    void WriteExpect() const { Write("expect.txt", Bytes(expect.begin(), expect.end())); }

    // The stub padded to 0xE000 with the archive behind it.
    void WriteInstaller(const Bytes& stub) const
    {
        Bytes file = stub;
        file.resize(0xE000, 0);
        Bytes archive = Archive();
        file.insert(file.end(), archive.begin(), archive.end());
        Write("setup.exe", file);
        WriteExpect();
    }
    // The stub alone, the archive cut into volumes at the given offsets.
    void WriteVolumes(const Bytes& stub, const std::vector<size_t>& cuts) const
    {
        Write("setup.exe", stub);
        Bytes archive = Archive();
        size_t start = 0;
        for (size_t i = 0; i <= cuts.size(); i++) {
            size_t end = i < cuts.size() ? cuts[i] : archive.size();
            Write("disk" + std::to_string(i + 1) + ".pak",
                  Bytes(archive.begin() + start, archive.begin() + end));
            start = end;
        }
        WriteExpect();
    }
};

// Text-like data that compresses but not to nothing: words from a small dictionary with
// pseudo-random numbers between them.
static Bytes MakeData(size_t size, u32 seed)
{
    static const char* const words[] = {"quill ", "stead ", "archive ", "volume ", "record ",
                                        "payload ", "decoder ", "\r\n", "install ", "bar "};
    Bytes data;
    u32 state = seed * 2654435761u + 1;
    while (data.size() < size) {
        state = state * 1103515245u + 12345u;
        const char* word = words[(state >> 16) % 10];
        data.insert(data.end(), word, word + strlen(word));
        if ((state >> 8) % 3 == 0) {
            char number[16];
            snprintf(number, sizeof(number), "%u ", state >> 12);
            data.insert(data.end(), number, number + strlen(number));
        }
    }
    data.resize(size);
    return data;
}

static Bytes ReadFile(const char* path)
{
    Bytes bytes;
    FILE* f = fopen(path, "rb");
    if (!f) {
        perror(path);
        exit(1);
    }
    int c;
    while ((c = fgetc(f)) != EOF)
        bytes.push_back((u8)c);
    fclose(f);
    return bytes;
}

static const u64 SEPTEMBER_1998 = 905860800;  // 1998-09-15 12:00:00 UTC

// Nested folders, an empty file, a read-only and a hidden file, a 1998 time stamp, a file
// larger than the 65535-byte buffers and a hundred small files; the sizes add up to
// 1,183,444 bytes. The post-install command leaves the directory it ran in.
static void FullTree(Fixture& f)
{
    u64 t = FileTimeOfUnix(SEPTEMBER_1998);
    f.File("readme.txt", MakeData(1500, 1), 0x20, t);
    f.File("empty.dat", Bytes(), 0x20, t + 10000000);
    f.File("locked.txt", MakeData(700, 2), 0x21, FileTimeOfUnix(1262304000));  // 2010
    f.File("hidden.cfg", MakeData(300, 3), 0x22, t);
    f.File("big.bin", MakeData(200000, 4), 0x20, FileTimeOfUnix(1000000000));
    f.Directory("docs");
    f.File("guide.txt", MakeData(9000, 5), 0x20, t);
    f.Directory("deep");
    f.Directory("deeper");
    f.Directory("deepest");
    f.File("note.txt", MakeData(123, 6), 0x20, t);
    f.Up();
    f.Up();
    f.Up();
    f.File("after.txt", MakeData(77, 7), 0x20, t);
    f.Up();
    f.Directory("many");
    u32 used = 1500 + 700 + 300 + 200000 + 9000 + 123 + 77;
    u32 rest = 1183444 - used - 900000;
    for (int i = 0; i < 100; i++) {
        char name[32];
        snprintf(name, sizeof(name), "file%03d.txt", i);
        u32 size = i < 99 ? 60 + i : rest - (60 * 99 + 99 * 98 / 2);
        f.File(name, MakeData(size, 100 + i), 0x20, t + (u64)i * 10000000);
    }
    f.Up();
    f.File("large.bin", MakeData(900000, 8), 0x20, t);
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: make_fixtures STUB.exe OUTDIR\n");
        return 2;
    }
    Bytes stub = ReadFile(argv[1]);
    if (stub.size() > 0xE000) {
        fprintf(stderr, "stub is %zu bytes, more than 0xE000\n", stub.size());
        return 1;
    }
    std::string out = argv[2];
    mkdir(out.c_str(), 0755);

    {
        Fixture f(out, "full");
        FullTree(f);
        f.End();
        f.postInstall = "cmd.exe /c cd > postinstall.txt";
        if (f.totalSize != 1183444) {
            fprintf(stderr, "full tree is %llu bytes\n", (unsigned long long)f.totalSize);
            return 1;
        }
        f.WriteInstaller(stub);
    }
    {
        // The same tree in three volumes beside a bare stub; the cuts fall inside a
        // record header and inside a bit stream. The background starts minimised.
        Fixture f(out, "volumes");
        FullTree(f);
        f.End();
        f.maximized = 0;
        size_t size = f.Archive().size();
        f.WriteVolumes(stub, {size / 3 + 7, 2 * size / 3});
    }
    {
        // Twelve megabytes: each question lets the worker run a little (about 64 KB here)
        // until the next one holds it, and fifty questions must fit well before the end.
        Fixture f(out, "big");
        u64 t = FileTimeOfUnix(SEPTEMBER_1998);
        for (int i = 0; i < 4; i++)
            f.File("part" + std::to_string(i) + ".bin", MakeData(3000000, 40 + i), 0x20, t);
        f.Directory("tail");
        for (int i = 0; i < 20; i++)
            f.File("t" + std::to_string(i) + ".txt", MakeData(3000 + i, 60 + i), 0x20, t);
        f.Up();
        f.End();
        f.WriteInstaller(stub);
    }
    {
        // A record whose type is 9, after a directory and a file that come out whole.
        Fixture f(out, "badtype");
        f.Directory("sub");
        f.File("a.txt", MakeData(5000, 9), 0x20, FileTimeOfUnix(SEPTEMBER_1998));
        f.Up();
        f.Header(9, 0, 0, 0);
        f.WriteInstaller(stub);
    }
    {
        // A post-install command that cannot start.
        Fixture f(out, "badpost");
        f.File("one.txt", MakeData(100, 10), 0x20, FileTimeOfUnix(SEPTEMBER_1998));
        f.End();
        f.postInstall = "no_such_program_quill.exe /x";
        f.WriteInstaller(stub);
    }
    {
        // A header claiming 4,000,000,000 bytes: on a drive of about 4.3 TB free the space
        // check passes only if the free figure does not wrap at 32 bits.
        Fixture f(out, "huge");
        f.File("small.txt", MakeData(100, 11), 0x20, FileTimeOfUnix(SEPTEMBER_1998));
        f.End();
        f.totalSizeOverride = 4000000000u;
        f.WriteInstaller(stub);
    }
    {
        // A program group: items relative to the install directory (one in a subfolder),
        // an absolute one, and last one with arguments, which the shell refuses.
        Fixture f(out, "group");
        FullTree(f);
        f.End();
        f.groupName = "Quill Test Group";
        f.groupItems = {{"Read Me", "\\readme.txt"},
                        {"Notepad", "C:\\windows\\notepad.exe"},
                        {"Guide", "\\docs\\guide.txt"},
                        {"Setup", "\\readme.txt /x"}};
        f.WriteInstaller(stub);
        // The same items under other names: one installed with the box unchecked, one
        // with no items at all (the box disabled).
        Fixture off(out, "group_off");
        FullTree(off);
        off.End();
        off.groupName = "Quill Unchecked Group";
        off.groupItems = f.groupItems;
        off.WriteInstaller(stub);
        Fixture none(out, "group_none");
        none.File("one.txt", MakeData(100, 12), 0x20, FileTimeOfUnix(SEPTEMBER_1998));
        none.End();
        none.groupName = "Quill Empty Group";
        none.WriteInstaller(stub);
    }
    {
        // A header that understates the content, so that the free-space check passes on a
        // 1 MB drive: the second file meets the full disk.
        Fixture f(out, "fulldisk");
        f.File("first.bin", MakeData(300000, 70), 0x20, FileTimeOfUnix(SEPTEMBER_1998));
        f.File("second.bin", MakeData(3000000, 71), 0x20, FileTimeOfUnix(SEPTEMBER_1998));
        f.End();
        f.totalSizeOverride = 1000;
        f.WriteInstaller(stub);
    }
    {
        // An archive of no bytes: the bar's range is empty.
        Fixture f(out, "empty");
        f.Directory("nothing");
        f.Up();
        f.End();
        f.WriteInstaller(stub);
    }
    return 0;
}
