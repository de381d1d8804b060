// Faults injected into the native host, each at every place it can strike: a write that
// fails after N bytes for every N, a read that fails at every read, a volume that vanishes,
// a folder that cannot be entered, a file that cannot be created, a break at every safe
// point. Each ends with its message and detail, keeps what was written before, and
// releases every handle and buffer exactly once.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "archive/context.h"
#include "archive/messages.h"
#include "harness.h"

namespace {

struct Written {
    std::string path;  // under the target
    Bytes data;
};

// Three files, one in a folder; the last is over one output buffer, so it takes two writes.
const std::vector<Written>& Files()
{
    static const std::vector<Written> files = {
        {"a.txt", TextBytes(std::string(100, 'a'))},
        {"sub/b.bin", RandomBytes(300, 5)},
        {"c.dat", RandomBytes(STREAM_BUFFER_SIZE + 200, 6)},
    };
    return files;
}

Bytes SmallArchive()
{
    RecordWriter records;
    records.File("a.txt", Files()[0].data);
    records.Directory("sub");
    records.File("b.bin", Files()[1].data);
    records.Up();
    records.File("c.dat", Files()[2].data);
    records.End();
    return MakeArchive(records);
}

// After any end: nothing open, nothing allocated but the string block, nothing released twice.
void ExpectReleasedOnce()
{
    EXPECT_TRUE(Host().openFiles.empty());
    EXPECT_EQ(1u, Host().liveBlocks.size());  // the string block, released at program end
    EXPECT_EQ(0u, Host().badReleases);
    EXPECT_EQ(nullptr, context.readBuffer);
    EXPECT_EQ(nullptr, context.outputBuffer);
}

class InjectedFaults : public ::testing::Test {
protected:
    // A fresh target, the archive opened; returns the worker's exit code.
    u32 Run(const std::function<void(NativeHost&)>& inject)
    {
        // The target emptied by hand: a fresh folder per run costs more than the run.
        for (const Written& file : Files())
            unlink(File(file.path).c_str());
        rmdir(File("sub").c_str());
        EXPECT_EQ(1, OpenAt(program));
        Host().recordBar = false;
        Host().reads = 0;
        inject(Host());
        return ExtractInto(target.Path());
    }
    std::string File(const std::string& path) const { return target / path; }

    TempDir dir, target;
    std::string program = WriteInstaller(dir.Path(), SmallArchive());
};

TEST_F(InjectedFaults, WriteFailsAfterEveryByteCount)
{
    u64 total = 0;
    for (const Written& file : Files())
        total += file.data.size();
    for (u64 limit = 0; limit <= total; limit++) {
        SCOPED_TRACE(limit);
        u32 code = Run([&](NativeHost& host) { host.writeLimit = limit; });
        ExpectReleasedOnce();
        if (limit == total) {
            EXPECT_EQ(0u, code);
            break;
        }
        ASSERT_EQ((u32)MSG_WRITE_ERROR, code);
        EXPECT_EQ(1u, EventsOf(HostEvent::ABORTED).size());
        // The file that met the limit is named and kept as far as it got; those before it
        // are whole; none after it was begun.
        u64 before = 0;
        size_t failed = 0;
        while (before + Files()[failed].data.size() <= limit)
            before += Files()[failed++].data.size();
        const Written& file = Files()[failed];
        EXPECT_EQ(file.path.substr(file.path.rfind('/') + 1), detailText);
        for (size_t i = 0; i < failed; i++)
            EXPECT_EQ(Files()[i].data, ReadBytes(File(Files()[i].path)));
        Bytes partial = ReadBytes(File(file.path));
        // Output goes out in whole buffers: what reached the disk is a prefix, cut at the limit.
        EXPECT_LE(partial.size(), limit - before);
        EXPECT_TRUE(std::equal(partial.begin(), partial.end(), file.data.begin()));
        for (size_t i = failed + 1; i < Files().size(); i++)
            EXPECT_NE(0, access(File(Files()[i].path).c_str(), F_OK));
        // Inside the big file every limit below its first buffer says the same: sampled.
        if (limit > 420 && limit + 300 < total)
            limit += 997;
    }
}

TEST_F(InjectedFaults, ReadFailsAtEveryRead)
{
    // Four volumes: the failing read names volume 1 by its path, later ones by file name.
    Bytes archive = SmallArchive();
    WriteVolumes(dir.Path(), archive, {archive.size() / 4, archive.size() / 2, 3 * archive.size() / 4});
    WriteBytes(dir / "setup.exe", Bytes(100, 0));
    program = dir / "setup.exe";
    for (u32 n = 1;; n++) {
        SCOPED_TRACE(n);
        u32 code = Run([&](NativeHost& host) { host.failReadAt = n; });
        ExpectReleasedOnce();
        if (code == 0) {
            EXPECT_LT(Host().reads, n);
            EXPECT_GT(n, 4u);
            break;
        }
        ASSERT_EQ((u32)MSG_READ_ERROR, code);
        if (context.volumeNumber == 1)
            EXPECT_EQ(ToWindowsPath(dir / "disk1.pak"), detailText);
        else
            EXPECT_EQ("disk" + std::to_string(context.volumeNumber) + ".pak", std::string(detailText));
    }
}

TEST_F(InjectedFaults, VolumeVanishesFolderAndFileRefused)
{
    Bytes archive = SmallArchive();
    WriteVolumes(dir.Path(), archive, {archive.size() / 2});
    WriteBytes(dir / "setup.exe", Bytes(100, 0));
    program = dir / "setup.exe";
    // disk2.pak goes while the first file is written: asked for, then given up with message 10.
    u32 code = Run([&](NativeHost& host) {
        host.recordDone = [&](const RecordHeader&, u32) { unlink((dir / "disk2.pak").c_str()); };
    });
    EXPECT_EQ((u32)MSG_CANT_OPEN_FILE, code);
    EXPECT_EQ("disk2.pak", std::string(detailText));
    ASSERT_EQ(1u, EventsOf(HostEvent::OPEN_FILE).size());
    EXPECT_EQ("disk2.pak", EventsOf(HostEvent::OPEN_FILE)[0].text);
    EXPECT_EQ(Files()[0].data, ReadBytes(File("a.txt")));
    ExpectReleasedOnce();
    WriteVolumes(dir.Path(), archive, {archive.size() / 2});

    struct Case {
        std::function<void(NativeHost&)> inject;
        u32 code;
        const char* detail;
    } cases[] = {
        {[](NativeHost& h) { h.failEnter = [](const std::string& n) { return n == "sub"; }; },
         MSG_CANT_OPEN_DIRECTORY, "sub"},
        {[](NativeHost& h) { h.failEnter = [](const std::string& n) { return n == ".."; }; },
         MSG_CANT_OPEN_DIRECTORY, ".."},
        {[](NativeHost& h) { h.failCreate = [](const std::string& n) { return n == "b.bin"; }; },
         MSG_CANT_OPEN_FILE, "b.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.detail);
        EXPECT_EQ(c.code, Run(c.inject));
        EXPECT_EQ(c.detail, std::string(detailText));
        EXPECT_EQ(Files()[0].data, ReadBytes(File("a.txt")));
        EXPECT_EQ(1u, EventsOf(HostEvent::ABORTED).size());
        ExpectReleasedOnce();
    }
}

TEST_F(InjectedFaults, BreakAtEverySafePoint)
{
    // What the break releases and what the worker released itself never overlap.
    for (u32 n = 1;; n++) {
        SCOPED_TRACE(n);
        u32 calls = 0;
        u32 code = Run([&](NativeHost& host) { host.safePoint = [&] { return ++calls == n; }; });
        ExpectReleasedOnce();
        EXPECT_TRUE(EventsOf(HostEvent::ABORTED).empty());
        if (code == 0) {
            EXPECT_GT(n, 6u);
            break;
        }
        ASSERT_EQ((u32)WORKER_BROKEN, code);
    }
}

}  // namespace
