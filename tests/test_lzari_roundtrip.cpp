// The LZARI encoder against the installer's own decoder: payloads decoded straight from a
// volume file (so that we see how far the decoder reads), and whole archives through the
// worker. A few short payloads are also checked byte for byte, since a round trip cannot
// see a fault that the encoder and the decoder share, such as one in the common model.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "archive/context.h"
#include "archive/platform.h"
#include "archive/volume.h"
#include "extract/lzari.h"
#include "pack/lzari_encoder.h"
#include "extract/worker.h"
#include "harness.h"

namespace {

Bytes Encode(const Bytes& data, LzariEffort effort = LZARI_NORMAL)
{
    Bytes payload;
    LzariEncodePayload(data.data(), data.size(), payload, effort);
    return payload;
}

// English-like text: words from a small vocabulary, so that matches of every length and
// distance occur.
Bytes Prose(size_t size, unsigned seed)
{
    static const char* words[] = {"the", "installer", "reads", "a", "volume", "and", "writes",
                                  "files", "into", "directory", "of", "archive", "record",
                                  "ring", "match", "position", "with", "bytes", "every"};
    Bytes random = RandomBytes(size, seed);
    Bytes text;
    for (size_t i = 0; text.size() < size; i++) {
        const char* word = words[random[i % size] % (sizeof(words) / sizeof(words[0]))];
        text.insert(text.end(), word, word + strlen(word));
        text.push_back(random[(i * 7 + 3) % size] % 11 == 0 ? '\n' : ' ');
    }
    text.resize(size);
    return text;
}

struct Decoded {
    Bytes output;
    size_t consumed;  // bytes of the payload the decoder took, size field included
};

// Decodes payloads one after another with the one process-wide decoder, as the worker
// does for consecutive file records, so the ring tail of each file stays behind for the
// next. They lie back to back in one volume file; after each, the input is moved to the
// next payload by its known offset rather than by the worker's resynchronisation, which
// would hide how far the decoder read.
std::vector<Decoded> DecodeAll(const std::vector<Bytes>& payloads)
{
    TempDir dir;
    Bytes volume;
    std::vector<size_t> starts;
    for (const Bytes& payload : payloads) {
        starts.push_back(volume.size());
        volume.insert(volume.end(), payload.begin(), payload.end());
    }
    starts.push_back(volume.size());
    WriteBytes(dir / "disk1.pak", volume);

    ResetHost();
    Host().recordBar = false;
    context.volumeNumber = 1;
    context.readBuffer = (u8*)PlatAlloc(STREAM_BUFFER_SIZE);
    context.outputBuffer = (u8*)PlatAlloc(STREAM_BUFFER_SIZE);
    OpenVolume(ToWindowsPath(dir / "disk1.pak").c_str());

    std::vector<Decoded> decoded;
    for (size_t i = 0; i < payloads.size(); i++) {
        std::string name = dir / ("file" + std::to_string(i));
        context.outputHandle = PlatCreateOutput(ToWindowsPath(name).c_str());
        EXPECT_NE(nullptr, context.outputHandle);
        if (!context.outputHandle)
            break;
        ResetDecoder(&context);
        DecodeFile();
        PlatClose(context.outputHandle);
        context.outputHandle = 0;
        size_t position = volume.size() - context.volumeRemaining - (context.readFill - context.readPos);
        decoded.push_back({ReadBytes(name), position - starts[i]});
        if (position > starts[i + 1]) {
            ADD_FAILURE() << "payload " << i << " read " << position - starts[i + 1]
                          << " bytes into the next one";
            break;
        }
        if (position < starts[i + 1])
            ReadStream((u32)(starts[i + 1] - position), 0);
    }
    ReleaseWorkerResources();
    return decoded;
}

// Encodes each input, decodes all in one sequence, and checks the output and that the
// decoder took the whole bit stream but stopped within the four zero bytes behind it.
void ExpectRoundTrips(const std::vector<Bytes>& inputs, const std::vector<std::string>& names,
                      LzariEffort effort = LZARI_NORMAL)
{
    std::vector<Bytes> payloads;
    for (const Bytes& input : inputs)
        payloads.push_back(Encode(input, effort));
    std::vector<Decoded> decoded = DecodeAll(payloads);
    ASSERT_EQ(inputs.size(), decoded.size());
    for (size_t i = 0; i < inputs.size(); i++) {
        SCOPED_TRACE(names[i] + " (" + std::to_string(inputs[i].size()) + " bytes)");
        const Bytes& payload = payloads[i];
        ASSERT_GE(payload.size(), 4u + PADDING_SIZE);
        EXPECT_EQ(inputs[i].size(), (u32)payload[0] | (u32)payload[1] << 8 |
                                        (u32)payload[2] << 16 | (u32)payload[3] << 24);
        EXPECT_TRUE(std::all_of(payload.end() - PADDING_SIZE, payload.end(), [](u8 b) { return b == 0; }));
        EXPECT_TRUE(inputs[i] == decoded[i].output) << "decoded " << decoded[i].output.size() << " bytes";
        if (inputs[i].empty()) {
            EXPECT_EQ(4u + PADDING_SIZE, payload.size());
            EXPECT_EQ(4u, decoded[i].consumed);
        } else {
            // Unread stream bytes would be taken for the next record's header.
            EXPECT_GE(decoded[i].consumed, payload.size() - PADDING_SIZE);
            EXPECT_LE(decoded[i].consumed, payload.size());
        }
    }
}

}  // namespace

// Inputs short enough that their best coding is not in doubt, coded by hand (the single
// byte) or by a separate bit-by-bit coder: they pin the coder, the final bits and the
// model that encoder and decoder share.
TEST(LzariEncoder, KnownPayloads)
{
    // Nothing but the size and the padding.
    EXPECT_EQ(Bytes({0, 0, 0, 0, 0, 0, 0, 0}), Encode({}));
    // 'A' is symbol 66 of 314: [103521, 103939) of 0x20000. Its 7 leading bits 1100101
    // settle; the flush adds the half, one 1 bit: 11001011.
    EXPECT_EQ(Bytes({1, 0, 0, 0, 0xcb, 0, 0, 0, 0}), Encode(TextBytes("A")));
    // 60 spaces are one match of 60 at distance 1 into the ring's space prefix.
    EXPECT_EQ(Bytes({60, 0, 0, 0, 0x00, 0xd0, 0x40, 0, 0, 0, 0}), Encode(Bytes(60, ' ')));
    // A literal, then one match of 60 at distance 1 that overlaps what it writes.
    EXPECT_EQ(Bytes({61, 0, 0, 0, 0x9d, 0x5a, 0x28, 0xc0, 0, 0, 0, 0}), Encode(Bytes(61, 'x')));
}

TEST(LzariEncoder, AppendsToWhatTheBufferHolds)
{
    Bytes data = Prose(5000, 1);
    Bytes alone = Encode(data);
    Bytes out = {0x04, 0x05};
    LzariEncodePayload(data.data(), data.size(), out);
    ASSERT_EQ(alone.size() + 2, out.size());
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), out.begin() + 2));
}

// The streaming encoder holds a window, not the input: fed in pieces of every size, down
// to one byte, over an input that makes the window move several times, it writes exactly
// what the encoder with the whole input in memory writes. An input that ends before its
// size is an error, not a short payload.
TEST(LzariEncoder, StreamingWritesWhatTheWholeInputGives)
{
    Bytes data = Join({Prose(300000, 3), RandomBytes(70000, 4), Repeat("ab", 9000), Prose(400000, 5)});
    Bytes whole = Encode(data);
    for (size_t piece : {(size_t)1, (size_t)4093, (size_t)1 << 20}) {
        SCOPED_TRACE(piece);
        size_t at = 0, pieces = 0;
        Bytes streamed;
        LzariEncodeStream(
            data.size(),
            [&](u8* to, size_t max) {
                size_t n = std::min({max, piece, data.size() - at});
                memcpy(to, data.data() + at, n);
                at += n;
                return n;
            },
            [&](const u8* bytes, size_t size) {
                streamed.insert(streamed.end(), bytes, bytes + size);
                pieces++;
            });
        EXPECT_EQ(data.size(), at);
        EXPECT_GT(pieces, 3u) << "the output is handed on as it is made";
        ASSERT_EQ(whole.size(), streamed.size());
        EXPECT_TRUE(whole == streamed);
    }
    auto shortRead = [&](u8* to, size_t max) {
        static size_t given = 0;
        size_t n = std::min(max, (size_t)1000 - std::min(given, (size_t)1000));
        memset(to, 'x', n);
        given += n;
        return n;
    };
    EXPECT_THROW(LzariEncodeStream(5000, shortRead, [](const u8*, size_t) {}), std::runtime_error);
}

TEST(LzariRoundTrip, SyntheticData)
{
    Bytes text = Prose(300000, 7);
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"empty", {}},
        {"one byte", {0x00}},
        {"two bytes", TextBytes("ab")},
        {"three equal bytes", TextBytes("zzz")},
        {"output buffer full", Prose(65535, 2)},
        {"one past the output buffer", Prose(65536, 3)},
        {"run of zeros", Bytes(200000, 0)},
        {"run of 0xff", Bytes(70001, 0xff)},
        {"two-byte cycle", Repeat("\x01\x02", 100000)},
        {"random", RandomBytes(200000, 4)},
        {"random, one byte", RandomBytes(1, 5)},
        {"text", text},
        {"spaces then text", Join({Bytes(5000, ' '), Prose(20000, 6)})},
        {"4035 spaces then x", Join({Bytes(4035, ' '), TextBytes("x")})},
        {"4036 spaces then text", Join({Bytes(4036, ' '), Prose(9000, 8)})},
        {"4100 spaces", Bytes(4100, ' ')},
        {"one space, then text", Join({TextBytes(" "), Prose(3000, 9)})},
        // A block repeated at exactly 4096 bytes, the farthest a match reaches.
        {"repeat at distance 4096", [] {
             Bytes block = RandomBytes(4096, 10);
             return Join({block, block, block});
         }()},
        // ... and one just out of reach.
        {"repeat at distance 4097", [] {
             Bytes block = RandomBytes(4097, 11);
             return Join({block, block});
         }()},
        {"random with repeats", [] {
             Bytes bytes = RandomBytes(100000, 12);
             for (size_t i = 5000; i + 100 < bytes.size(); i += 997)
                 std::copy(bytes.begin() + (long)(i - 3000), bytes.begin() + (long)(i - 2900), bytes.begin() + (long)i);
             return bytes;
         }()},
        // Bytes that leave the model's order alone for long and then change it.
        {"skewed alphabet", [] {
             Bytes random = RandomBytes(150000, 13);
             for (u8& b : random)
                 b = b < 200 ? 'e' : b < 240 ? (u8)(b - 200 + 'a') : b;
             return random;
         }()},
    };
    std::vector<Bytes> inputs;
    std::vector<std::string> names;
    for (auto& c : cases) {
        names.push_back(c.first);
        inputs.push_back(c.second);
    }
    ExpectRoundTrips(inputs, names);
    // The cost-based parse takes other matches (shorter ones at nearer distances, ones
    // that run past its blocks' ends): the same checks. Its prices are the model's at each
    // block's start, so on tiny inputs it may lose a few bytes, never more.
    ExpectRoundTrips(inputs, names, LZARI_BEST);
    for (size_t i = 0; i < inputs.size(); i++) {
        size_t normal = Encode(inputs[i]).size();
        EXPECT_LE(Encode(inputs[i], LZARI_BEST).size(), normal + normal / 100 + 4) << names[i];
    }
    EXPECT_LT(Encode(text, LZARI_BEST).size() * 100, Encode(text).size() * 99) << "at least 1% smaller on text";
}

// The cost-based parse's streams through the independent decoder of tests/reference,
// which shares no code with ours: a fault common to our encoder and decoder (in the model
// they share, say) would pass every round trip but not this. The inputs make tokens cross
// the parse's blocks and matches reach to 4096 bytes back.
TEST(LzariEncoder, BestParseDecodesWithTheReferenceDecoder)
{
    if (system("python3 -c 'import sys' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no python3 for the reference decoder";
    Bytes block = RandomBytes(4096, 21);
    std::vector<Bytes> inputs = {Prose(9000, 22), Bytes(9000, 0), Join({block, block, Prose(300, 23)}),
                                 TextBytes("x"), Repeat("abcab", 5000)};
    TempDir dir;
    std::string command = "python3 " + std::string(QUILL_SOURCE_DIR) + "/tests/reference/lzari_tokens.py --decode";
    for (size_t i = 0; i < inputs.size(); i++) {
        std::string base = dir.Path() + "/" + std::to_string(i);
        WriteBytes(base + ".lzari", Encode(inputs[i], LZARI_BEST));
        WriteBytes(base + ".expected", inputs[i]);
        command += " " + base + ".lzari " + base + ".expected";
    }
    EXPECT_EQ(0, system(command.c_str()));
}

// The read-ahead ends inside the padding whatever state the coder is left in: many short
// payloads of every length up to 300, each ending in a different interval.
TEST(LzariRoundTrip, ReadAheadStaysWithinThePadding)
{
    std::vector<Bytes> inputs;
    std::vector<std::string> names;
    for (size_t size = 1; size <= 300; size++) {
        inputs.push_back(RandomBytes(size, (unsigned)size));
        names.push_back("random " + std::to_string(size));
        inputs.push_back(Prose(size, (unsigned)size + 1000));
        names.push_back("text " + std::to_string(size));
        inputs.push_back(Repeat(std::string(1 + size % 5, 'q') + "r", size));
        names.push_back("cycle " + std::to_string(size));
    }
    ExpectRoundTrips(inputs, names);
}

// Ring positions 4036..4095 hold the previous file's last bytes when a file starts; no
// match may read them before the file has written them. Each file here is decoded after
// files with different tails; an encoder that took those positions for zeros, spaces or
// the last file it saw would decode wrongly at least once.
TEST(LzariRoundTrip, PreviousFileRingTailNeverLeaks)
{
    Bytes tailA = RandomBytes(60, 20);
    Bytes a = Join({Prose(5000, 21), tailA});
    // Starts with zeros (the ring's state before the first file), then a's tail.
    Bytes b = Join({Bytes(70, 0), tailA, Prose(1000, 22), Bytes(70, 0)});
    Bytes c = Join({Prose(3000, 23), Bytes(60, ' ')});
    // Starts with a's tail: matches only once written.
    Bytes d = Join({tailA, tailA, Bytes(10, 0)});

    // Coding is independent of what was coded before.
    Bytes firstB = Encode(b);
    Encode(a);
    EXPECT_EQ(firstB, Encode(b));

    ExpectRoundTrips({b, a, b, d, c, b, a, d, Bytes(70, 0), b},
                     {"b first", "a", "b after a", "d after b", "c", "b after c", "a again",
                      "d after a", "zeros after d", "b after zeros"});
}

// Random data is dominated by literals: the coding must not grow it by much, and short far
// matches that cost more than their literals are left out.
TEST(LzariEncoder, IncompressibleDataGrowsLittle)
{
    Bytes random = RandomBytes(500000, 30);
    Bytes payload = Encode(random);
    EXPECT_LT(payload.size(), random.size() + random.size() / 100);
}

// A matcher that found nothing would still round-trip; repeated material must shrink.
TEST(LzariEncoder, RepeatsAreMatched)
{
    Bytes block = RandomBytes(1000, 31);
    Bytes repeated;
    for (int i = 0; i < 64; i++)
        repeated.insert(repeated.end(), block.begin(), block.end());
    // One block of literals, then 60-byte matches at distance 1000 (about 2 bytes each).
    EXPECT_LT(Encode(repeated).size(), block.size() + 63 * 1000 / 60 * 3);
}

// The whole path: an archive of several files and directories, split into volumes inside
// bit streams, extracted by the worker with its resynchronisation between records.
TEST(LzariRoundTrip, ArchiveThroughTheWorker)
{
    std::map<std::string, Bytes> files = {
        {"empty.txt", {}},
        {"one.bin", {0x7f}},
        {"full.txt", Prose(65535, 40)},
        {"sub/over.txt", Prose(65536, 41)},
        {"sub/spaces.txt", Join({Bytes(300, ' '), Prose(700, 42)})},
        {"sub/deeper/random.bin", RandomBytes(100000, 43)},
        {"sub/zeros.bin", Bytes(5000, 0)},
        {"last.txt", Prose(12345, 44)},
    };
    RecordWriter records;
    records.File("empty.txt", files["empty.txt"]);
    records.File("one.bin", files["one.bin"]);
    records.File("full.txt", files["full.txt"]);
    records.Directory("sub");
    records.File("over.txt", files["sub/over.txt"]);
    records.File("spaces.txt", files["sub/spaces.txt"]);
    records.Directory("deeper");
    records.File("random.bin", files["sub/deeper/random.bin"]);
    records.Up();
    records.File("zeros.bin", files["sub/zeros.bin"]);
    records.Up();
    records.File("last.txt", files["last.txt"]);
    records.End();
    Bytes archive = MakeArchive(records);

    std::map<std::string, Bytes> expected = files;
    expected["sub/"] = {};
    expected["sub/deeper/"] = {};

    // One volume, then cuts inside bit streams and one inside the end record.
    size_t size = archive.size();
    for (std::vector<size_t> cuts : {std::vector<size_t>{}, std::vector<size_t>{1000, size / 3, size / 2 + 1, size - 3}}) {
        SCOPED_TRACE(std::to_string(cuts.size() + 1) + " volumes");
        TempDir dir, target;
        WriteVolumes(dir.Path(), archive, cuts);
        WriteBytes(dir / "setup.exe", Bytes(100, 0));
        ASSERT_EQ(1, OpenAt(dir / "setup.exe"));
        Host().recordBar = false;
        EXPECT_EQ(0u, ExtractInto(target.Path()));
        EXPECT_TRUE(BoxTexts().empty());
        EXPECT_TRUE(expected == ReadTree(target.Path()));
    }
}

TEST(LzariRoundTrip, Corpus)
{
    std::string dir = CorpusDir(QUILL_SOURCE_DIR);
    if (dir.empty())
        GTEST_SKIP() << "no corpus at " << QUILL_SOURCE_DIR << "/../shared/corpus";
    std::vector<std::string> names;
    std::vector<Bytes> inputs;
    for (auto& [name, bytes] : ReadTree(dir)) {
        if (name.back() == '/')
            continue;  // a folder
        names.push_back(dir + "/" + name);
        inputs.push_back(std::move(bytes));
    }
    ASSERT_FALSE(names.empty());
    ExpectRoundTrips(inputs, names);
}

TEST(LzariRoundTrip, CorpusIsLookedForBesideTheProjectOnly)
{
    // Another checkout, or another machine, must not pick up a corpus from a fixed path.
    TempDir dir;
    ASSERT_EQ(0, mkdir((dir / "project").c_str(), 0700));
    EXPECT_EQ("", CorpusDir(dir / "project"));
    ASSERT_EQ(0, mkdir((dir / "shared").c_str(), 0700));
    ASSERT_EQ(0, mkdir((dir / "shared/corpus").c_str(), 0700));
    EXPECT_EQ(dir / "project/../shared/corpus", CorpusDir(dir / "project"));
}
