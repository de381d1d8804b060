// Fixed LZARI payloads with known decoded bytes, run through the worker. Each payload was
// coded once from a hand-written token list by tests/reference/lzari_tokens.py, which has
// its own arithmetic coder and replays the tokens on a ring to get the expected bytes; it
// shares nothing with extract/, so a fault common to our encoder and decoder shows here
// where a round trip would pass. To see how a vector was derived, or to add one, run
//     python3 tests/reference/lzari_tokens.py NAME
// and paste its output; the names are those in the comments below.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "archive/commands.h"
#include "harness.h"

namespace {

// "0a000000 2991e000": pairs of hex digits, spaces ignored.
Bytes Hex(const char* text)
{
    Bytes bytes;
    int high = -1;
    for (const char* c = text; *c; c++) {
        if (*c == ' ')
            continue;
        int digit = (*c >= '0' && *c <= '9') ? *c - '0' : (*c >= 'a' && *c <= 'f') ? *c - 'a' + 10 : -1;
        if (digit < 0)
            throw std::invalid_argument("not a hex digit in a payload");
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back((u8)(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits in a payload");
    return bytes;
}

Bytes Text(const std::string& text)
{
    return TextBytes(text);
}

struct VectorFile {
    std::string name;
    Bytes payload;       // size field, bit stream, zero padding, exactly as pasted
    Bytes expected;      // what the file must hold afterwards
    Bytes after = {};    // raw bytes between this payload and the next record
};

u32 DeclaredSize(const Bytes& payload)
{
    return (u32)payload[0] | (u32)payload[1] << 8 | (u32)payload[2] << 16 | (u32)payload[3] << 24;
}

// The files as records of one archive, each header, name and payload laid down by hand
// (RecordWriter::File would code the data with our own encoder), then the end record.
Bytes ArchiveOf(const std::vector<VectorFile>& files)
{
    RecordWriter records;
    u32 total = 0;
    for (const VectorFile& file : files) {
        records.Header(RECORD_FILE, ATTRIBUTE_ARCHIVE, 0, (u16)file.name.size());
        records.Raw(Text(file.name));
        records.Raw(file.payload);
        records.Raw(file.after);
        total += DeclaredSize(file.payload);
    }
    records.End();
    Bytes archive = MakeArchive(records);
    // Raw records count nothing into totalSize; the header's first field is set here.
    std::memcpy(archive.data(), &total, sizeof(total));
    return archive;
}

struct Outcome {
    u32 code = ~0u;
    std::map<std::string, Bytes> tree;
    std::vector<u32> positions;  // every BAR_SETPOS value, in order
};

Outcome Install(const std::vector<VectorFile>& files)
{
    TempDir source, target;
    Outcome outcome;
    std::string program = WriteInstaller(source.Path(), ArchiveOf(files));
    if (OpenAt(program) != 1) {
        ADD_FAILURE() << "the installer did not open";
        return outcome;
    }
    outcome.code = ExtractInto(target.Path());
    outcome.tree = ReadTree(target.Path());
    for (const HostEvent& event : EventsOf(HostEvent::BAR))
        if (event.id == BAR_SETPOS)
            outcome.positions.push_back(event.value);
    return outcome;
}

// Every file extracted with exactly its expected bytes, nothing else, worker ended well.
Outcome ExpectFiles(const std::vector<VectorFile>& files)
{
    Outcome outcome = Install(files);
    EXPECT_EQ(0u, outcome.code);
    std::map<std::string, Bytes> expected;
    for (const VectorFile& file : files)
        expected[file.name] = file.expected;
    EXPECT_EQ(expected.size(), outcome.tree.size());
    for (const auto& [name, bytes] : expected) {
        SCOPED_TRACE(name);
        auto found = outcome.tree.find(name);
        if (found == outcome.tree.end()) {
            ADD_FAILURE() << "not extracted";
            continue;
        }
        EXPECT_EQ(bytes.size(), found->second.size());
        EXPECT_TRUE(bytes == found->second);
    }
    return outcome;
}

// one_byte: 'A'
Bytes OneByte()
{
    return
        Hex("01000000 ca800000 0000");
}

// An empty payload is its size field alone: no bits are read, so the next record may
// follow at once, or behind up to four zero bytes that the worker skips.
TEST(DecoderVectors, EmptyFileTakesOnlyItsSizeField)
{
    for (size_t zeros = 0; zeros <= 4; zeros++) {
        SCOPED_TRACE(zeros);
        ExpectFiles({{"empty.txt", Hex("00000000"), {}, Bytes(zeros, 0)},
                     {"after.txt", OneByte(), Text("A")}});
    }
    // The end record straight behind the size field.
    ExpectFiles({{"empty.txt", Hex("00000000"), {}}});
}

TEST(DecoderVectors, SingleLiteral)
{
    ExpectFiles({{"one.txt", OneByte(), Text("A")}});
}

// Matches: distance 1, the space-filled prefix of the ring, a match running on into the
// bytes it is writing, and both ends of the position model. One archive each.
TEST(DecoderVectors, Matches)
{
    const std::string digits =
        "012345678901234567890123456789012345678901234567890123456789";
    const VectorFile cases[] = {
        // distance_one_run: 'x' match(0,60)
        {"run.txt",
         Hex("3d000000 9d5a28c0 00000000"),
         Text(std::string(61, 'x'))},
        // prefix_spaces: match(5,10) copies 4030..4039 from the first write at 4036:
        // six prefix spaces, then the four it has just written.
        {"spaces.txt",
         Hex("0a000000 2991e000 000000"),
         Text(std::string(10, ' '))},
        // prefix_into_own_bytes: 'ab' match(4,10) copies 4033..4042: three spaces, 'ab',
        // then its own first five bytes twice over.
        {"own.txt",
         Hex("0c000000 b0a86a59 e0000000 00"),
         Text("ab   ab   ab")},
        // far_positions: the 60 digits fill 4036..4095 and the write index wraps to 0;
        // match(4095,5) copies the byte about to be overwritten (prefix spaces at 0..4),
        // match(4094,3) the one after it (6..8), match(68,60) copies 4035 and the first
        // 59 digits, match(2047,3) prefix spaces, then '!'.
        {"far.txt",
         Hex("84000000 d8bc4b83 ffe343d8 f46d5e3f 93ad2447 6997d59c 2fbc5ca6 93d0b52b"
             "da7a153a 86424425 f279d808 0cb3a748 2355d8ea 4ff5381a 1e801374 8180ea8c"
             "02b3d600 000000"),
         Text(digits + std::string(9, ' ') + digits.substr(0, 59) + "   !")},
    };
    for (const VectorFile& file : cases) {
        SCOPED_TRACE(file.name);
        ExpectFiles({file});
    }
}

// Ring positions 4036..4095 are not reset between files: the second file's first match
// copies what the first file left there, and its second match runs from them on into
// positions 0..3, which are spaces again for the second file.
TEST(DecoderVectors, SecondFileCopiesTheRingTailOfTheFirst)
{
    std::string first;
    for (int c = 0x40; c < 0x80; c++)
        first += (char)c;
    // carry, file 1: the 64 literals '@' .. 0x7f; 4036..4095 end up holding the first 60,
    // 0..3 the last four.
    Bytes payload1 =
        Hex("40000000 cba62b83 a5e64986 1ae8c485 be7d3277 a9746999 676cd776 939e338b"
            "72efbebb f14a0d05 185c9010 ea8ab7b0 041b798b 2651607b 40ca9bdf eb6f2fb4"
            "66efb6da ef2f8f70 00000000");
    // carry, file 2: match(4091,20) copies 4040..4059 (bytes 4..23 of the first file);
    // at r = 4056, match(4061,10) copies 4090..4095 (bytes 54..59) and 0..3 (spaces);
    // then '.'.
    Bytes payload2 =
        Hex("1f000000 209c8f22 8a05d800 000000");
    ExpectFiles({{"first.txt", payload1, Text(first)},
                 {"second.txt", payload2, Text(first.substr(4, 20) + first.substr(54, 6) + "    .")}});
}

// The symbol model's total starts at 314 and rises by one per symbol, so the update of
// symbol 32453 (counting from 0) finds it at 0x7FFF and halves before raising. The text
// is set up so that that symbol is an 'a' of odd frequency (30423; halving before or after
// the raise differ), and the halved model then codes symbols of frequency 2 ('X', seen
// once), 3 ('Y', twice) and 1 ('Z' and the length-60 symbol, never seen), which become 1,
// 2 and 1: a halving that rounds down, comes a symbol early or late, or raises first
// decodes something else from here on.
TEST(DecoderVectors, ModelHalvingAtTheLimit)
{
    std::string text;
    for (int i = 0; i < 2028; i++)
        text += std::string(15, 'a') + "b";
    text += "aaXYY";
    ASSERT_EQ(32453u, text.size());
    // halving: the literals above, then 'aZXYba' match(0,60) 'ZZXXYY' and 'ab' x50
    text += "aZXYba" + std::string(60, 'a') + "ZZXXYY";
    for (int i = 0; i < 50; i++)
        text += "ab";
    Bytes payload =
        Hex("717f0000 b0ea7fff ffffffff fffffc79 afffffff ffffffdf 48ffffff ffffcadd"
            "ffffffff dda77fff fffda347 fffffdf4 7ffffff2 909ffffe 29f3fffe f8d9fffe"
            "1217fff5 9fffff73 4bffef0c bffbbddf fdec9bfe 27dffd2a ebf8d1ef e3267f4e"
            "adf9b05f ad167a04 576813eb b15c68bf 2c97c1b2 e8cd9538 49d27bad f459cc4f"
            "5f92a1be 95abdc34 e43e9123 bfcae798 de9139dc dd20865e eb3b35ab bb0dc4d0"
            "5d358148 10dd71a2 98fa9ff1 e8d04e5f ad609633 955e87bd 2a9511f2 25491290"
            "e864119e 99bdc275 dfd03624 fb9d1e3c cda109db f0f72f2a e16bfa06 f5254f7a"
            "e98fe5c5 0c582d58 996cb5ac 5ba2e702 82c152e2 c28ac604 af8401a8 63b0d597"
            "5b386e02 b72cdbe9 828d3054 40a59dbd 086ab6db f6c43813 f5a7ccad 27f24e09"
            "4d71dcc1 23b4c451 ac601963 8698df3a 66ac8e22 7831b63b 6994334e a0f004be"
            "f998c55c 3bd9e38f 4c1a17d1 81a6439a 2506a315 bb68d5e7 6a826127 6e0f405b"
            "69dbe02b 031929fd b23866f1 891a616a 61e8e000 1c850493 e5da000a 666a508c"
            "fe657528 dc455af0 540c10a6 595e97c4 91f1c34a 4523746f 405e55de 6df1d8ec"
            "f065c541 9ce89151 ff3b799b 2a8967d0 0219e9dc 305bb057 b63eb478 48d78401"
            "7360fdab de3440c2 bab4ed4b c954ffd2 c43cc8ec f03919fb d2ea97d6 005c3321"
            "2fda0a99 111dd7a7 c15dccbb 82065ecf 859dbace 0e4b7573 fecef763 e61a98ae"
            "77423400 7d440816 041df8ac 4dfcc197 5046b1ce 1b4e4dd6 3606e4cc 5e1e3abe"
            "6194fb32 03623e02 ebfac012 a4e1abcb db45fd78 9d8a6018 351b6693 a66e7b68"
            "3e95f04a 5571ca77 11a27582 84f3d82f bcac018d be13b2d4 45933b65 5c67b202"
            "ddb9f4aa 31fd5ac0 17939f98 3409b759 a57e3a2e 8c2151bf 4b949a0b adcd166c"
            "47f2e6e5 d5585ed5 43ff9e7f 7fef7d3f c46aad55 c80bf6a2 0f9c5a63 c5eed86c"
            "246e184a 52ba1346 2de877bd 2d65ca07 0d7f9090 2217d5af 5076db03 549db594"
            "34b399c5 f8dafb7c 326cfbd8 67529113 bbe7bbe0 e134efb3 f1e3f507 fb4c3c6a"
            "17749824 2188a05d 0038d69b 7b77ca74 4b4b089e 8e9fa735 2007685a 8812ecc8"
            "6d7ea21e e59738e0 dd67a4ee 43863cd5 a5a76e33 9c87e261 d52c4590 6e43990e"
            "505d1024 f60b4d97 f692df1d efcfbfd7 4c203e75 6dedde3c eaf9746b 05137ba3"
            "c0e4ed64 3e864073 6801b60f 77542663 a1949469 57052322 ac3be375 d0b5e9eb"
            "49ba62d4 91b278cb 45e9feb5 66d9a8b3 1ffb1de0 e1b43d43 5fe4e649 73fd6339"
            "b386c465 ebc85a8a 6cb1143e fdb05ade 1536cfb9 054938a5 fa3debde ec054810"
            "75a012d0 2e3fc13b bd7afe13 ac6c55b5 6ee1591e 72e79c18 d015dd8f 4d0d063a"
            "44d11013 e75a706c 2018e184 ae10c650 1b4386b5 8d335c40 943c6231 a1707646"
            "f8c211f3 b47df201 bea12878 016a6db3 cd8b48f0 dc3a329b 501e43ff 1974696c"
            "b7065ae0 5daadbbd 456964ba 6cd9bbc6 bf1e8e0e 9456cb2c aa716a8b d903a479"
            "d968d091 e56ba6e7 c213990e 958c9d8c e9d1280b fea9f679 41b28115 cb54cef2"
            "4f2ebe49 89848f13 1e3bab1d b3d9bcbf d5d91865 f53ed61f e516f7f1 ed49cdef"
            "2458637f 1273a334 8eeebd94 11f0fd9a 15485ad2 43eb113f bb244d8d 573f3c4f"
            "4cb4e8c1 22e934d0 a0b2cb8a 550cf81a 2fa36a4a 6bf02e4a 362b608f 2a562c0b"
            "5b489c56 8c9e65e3 4de541c6 7cf556c7 bd7acd89 8583f9cc 1a8082bf 38a9f38e"
            "481c746d 06fe4df9 0f47367d 45951769 0081d193 a203a886 69d886ad 50688df2"
            "7644c7da 5dc06aff 85cffeef 7c8000eb 6fb0958e e03a708e 338384c4 2ed8b0b2"
            "05aba3d6 98eef57c 920778ec 9387734a 41720825 0e481f71 c40646ac ec71ddfe"
            "2eaafc01 774cec1a cb1b557b 0354dbf9 97e958ef 93f29f97 39da113f fb908882"
            "236c04f8 fca0af8a 8c70f573 a61bf41c 0ebd0854 d8ba0b11 6463d67c e5cb6be9"
            "7057e2b9 55c36bb6 c5d3f3aa 863cd1b6 cc84689b 2e750944 a2926606 0a974107"
            "6ffc866c 6794ef98 a57c2d9b a7c2144e 911efdb5 b78fb8d4 a989c3fa 8462b6f9"
            "d85d7a72 9032a1c3 9c03f5e7 3411bfda 69f6ceed 06b56d3d bcf8731f 2daf9254"
            "7339a537 5ee4a4de b9bc87ba 978eb438 3cf43280 3f9aa494 e22a5021 e0e9bb68"
            "06b17e2e 33c0a3f2 1101b04a d4148afc 91296444 5d810adb 259ef90b 1d893030"
            "7f3ae16b 48531bc8 590d695d 88054866 73ba942d c7630160 8532722e db7370e2"
            "0c122d96 8483f72e cd53e7f4 db54f2aa 7f6bab64 286433df f600a6c0 77c8aa29"
            "19f82ff1 81d75f38 a37062f5 26ac4e65 104e31ad f0f2e526 9e096424 bcaa1156"
            "c45bc9a3 728ef55b 03b7d4d2 db60cf94 e70f1e83 aea8bbf9 ede5a0d7 fa9634dd"
            "b6e8953f b336df6f 2c5cde94 ab0876ab 7d1dafe4 976b27e7 ddd3fe41 5003a281"
            "1852d1d0 d2759fba d449a673 1398ab22 193baba8 21395a6b eec76788 1dd6613b"
            "c2c6e359 3bc8fc14 7018b000 000000");
    ExpectFiles({{"halving.txt", payload, Text(text)}});
}

// The decoder reports bytesDone + threshold each time the decoded count passes a
// threshold (0, 0x3E00, 0x7C00, ...; strictly passes), the worker bytesDone + size after
// each file. The first file ends exactly on 2 * 0x3E00 and so makes no report for it; the
// second passes it by one byte.
TEST(DecoderVectors, ProgressReportsTheThresholdsPassed)
{
    const u32 step = 0x3E00;
    // progress, file 1: 'x' match(0,60) x529 match(0,3): 1 + 31740 + 3 = 31744 bytes
    Bytes payload1 =
        Join({Hex("007c0000 9d5a28ff 873f"),
              Bytes(701, 0xff),
              Hex("feec56e0 00000000")});
    // progress, file 2: 'y' match(0,60) x529 match(0,4): 31745 bytes
    Bytes payload2 =
        Join({Hex("017c0000 9c89297f 873f"),
              Bytes(701, 0xff),
              Hex("feebfce0 00000000")});
    // progress, file 3: 'z'
    Bytes payload3 =
        Hex("01000000 9c000000 0000");
    std::vector<VectorFile> files = {{"x.bin", payload1, Text(std::string(2 * step, 'x'))},
                                     {"y.bin", payload2, Text(std::string(2 * step + 1, 'y'))},
                                     {"z.bin", payload3, Text("z")}};
    Outcome outcome = ExpectFiles(files);
    const u32 second = 2 * step, third = second + 2 * step + 1;
    const std::vector<u32> expected = {
        0, step,                                             // x.bin
        2 * step,                                            // x.bin done
        second + 0, second + step, second + 2 * step,        // y.bin
        second + 2 * step + 1,                               // y.bin done
        third + 0,                                           // z.bin
        third + 1};                                          // z.bin done
    EXPECT_EQ(expected, outcome.positions);
}

}  // namespace
