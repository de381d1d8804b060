// Shipping an installer: signed with osslsigncode and read back by the core and by
// osslsigncode itself, the product's icon and version read back by windres and wrestool,
// reproducible bytes under SOURCE_DATE_EPOCH, and quill's own table alignment. The
// signing and resource cases need the real installer program (a PE file) of the build.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "archive/archive.h"
#include "test_quill_support.h"

namespace {

// Where the PE checksum field lies, 0 for no PE file.
u32 PeChecksumField(const Bytes& file)
{
    if (file.size() < 0x40)
        return 0;
    u32 pe = file[0x3C] | file[0x3D] << 8 | file[0x3E] << 16 | (u32)file[0x3F] << 24;
    return pe + 88 + 4 <= file.size() ? pe + 88 : 0;
}

// The checksum as the Windows loader's documented routine sums it: 16-bit words with the
// carry folded in, an odd last byte as a word of its own, the field counted as zero, and
// the file's length added.
u32 OwnPeChecksum(const Bytes& file, u32 field)
{
    u64 sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i >= field && i < field + 4)
            continue;
        sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return (u32)(sum + file.size());
}

std::string Stub()
{
    const char* given = getenv("QUILL_STUB");
    std::string path = given && *given ? given : QUILL_INSTALLER_FILE;
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 ? path : "";
}

std::string Product()
{
    return std::string(QUILL_SOURCE_DIR) + "/examples/product";
}

std::string ProductIni()
{
    return std::string(QUILL_SOURCE_DIR) + "/examples/product.ini";
}

struct Shell {
    int code;
    std::string out;  // stdout and stderr
};

Shell Sh(const std::string& command)
{
    ShellRun run = RunShell(command);
    return {run.code, run.out};
}

bool Have(const std::string& program)
{
    return Sh("command -v " + program).code == 0;
}

#define NEED_STUB()                                                                         \
    std::string stub = Stub();                                                              \
    if (stub.empty())                                                                       \
        GTEST_SKIP() << "no installer program: build with i686-w64-mingw32 or set QUILL_STUB"

// The signing cases need the program, osslsigncode and openssl, and quill built with OpenSSL.
#ifdef QUILL_HAVE_OPENSSL
#define NEED_SIGNING()                                                                      \
    NEED_STUB();                                                                            \
    if (!Have("osslsigncode") || !Have("openssl"))                                          \
    GTEST_SKIP() << "osslsigncode or openssl missing"
#else
#define NEED_SIGNING() GTEST_SKIP() << "quill was built without OpenSSL: no signer, no digest to check"
#endif

// A self-signed code-signing certificate and its key in dir.
void MakeCertificate(const TempDir& dir)
{
    Shell made = Sh("openssl req -x509 -newkey rsa:2048 -nodes -utf8 -days 2 -subj '/CN=Quill Test Signer/O=Проба' "
                     "-keyout " + dir / "key.pem" + " -out " + dir / "cert.pem");
    ASSERT_EQ(0, made.code) << made.out;
}

// What the installer's own start-up and worker extract from program.
std::map<std::string, Bytes> InstallWithCore(const std::string& program, u32& code)
{
    TempDir target;
    EXPECT_EQ(1, OpenAt(program));
    code = ExtractInto(target.Path());
    return ReadTree(target.Path());
}

void FlipByte(const std::string& path, size_t at, u8 value)
{
    Bytes bytes = ReadBytes(path);
    ASSERT_LT(at, bytes.size());
    bytes[at] = value;
    WriteBytes(path, bytes);
}

// Offset of the certificate table named by the PE security entry.
u32 TableOffset(const Bytes& file)
{
    u32 pe = file[0x3C] | file[0x3D] << 8;
    const u8* entry = &file[pe + 152];
    return entry[0] | entry[1] << 8 | entry[2] << 16 | (u32)entry[3] << 24;
}

TEST(QuillSigning, SignedInstallersOfEachLayoutReadBackWhole)
{
    NEED_SIGNING();
    TempDir dir;
    MakeCertificate(dir);
    struct Layout {
        const char* name;
        std::vector<std::string> options;
        u32 volumes;
    } layouts[] = {{"single", {}, 1}, {"split", {"--split-at", "60003", "--volume-size", "3K"}, 3},
                   {"volumes", {"--volume-size", "5K"}, 2}};
    std::map<std::string, Bytes> product = ReadTree(Product());
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        std::string out = dir / layout.name;
        MakeDir(out);
        std::vector<std::string> args = {"pack", Product(), ProductIni(), "-o", out + "/setup.exe", "--stub", stub, "--no-uninstall",
                                         "-q", "--sign", dir / "cert.pem", "--key", dir / "key.pem"};
        args.insert(args.end(), layout.options.begin(), layout.options.end());
        QuillRun pack = RunQuill(args);
        ASSERT_EQ(0, pack.code) << pack.err;

        // osslsigncode: the digest and the PE checksum are those of the file.
        Shell verify = Sh("osslsigncode verify -CAfile " + dir / "cert.pem" + " -in " + out + "/setup.exe");
        EXPECT_EQ(0, verify.code) << verify.out;
        EXPECT_FALSE(Contains(verify.out, "MISMATCH")) << verify.out;
        EXPECT_TRUE(Contains(verify.out, "Quill Test Signer")) << verify.out;

        QuillRun test = RunQuill({"test", out + "/setup.exe"});
        EXPECT_EQ(0, test.code) << test.err;
        EXPECT_TRUE(Contains(test.out, "signed: O=Проба,CN=Quill Test Signer, SHA256 digest matches")) << test.out;
        EXPECT_TRUE(Contains(test.out, "in " + std::to_string(layout.volumes) + " volume")) << test.out;
        QuillRun list = RunQuill({"list", "--json", out + "/setup.exe"});
        EXPECT_EQ(0, list.code) << list.err;
        EXPECT_TRUE(Contains(list.out, "\"subject\": \"O=Проба,CN=Quill Test Signer\", \"digest\": \"SHA256\", "
                                       "\"sound\": true")) << list.out;

        // The installer's own code reads past nothing: the table is no part of volume 1.
        u32 code = 99;
        EXPECT_EQ(product, InstallWithCore(out + "/setup.exe", code));
        EXPECT_EQ(0u, code);
    }
}

TEST(QuillSigning, AnythingButTheTableAfterTheEndIsDamage)
{
    NEED_SIGNING();
    TempDir dir;
    MakeCertificate(dir);
    std::string setup = dir / "setup.exe";
    QuillRun pack = RunQuill({"pack", Product(), ProductIni(), "-o", setup, "--stub", stub, "--no-uninstall", "-q", "--sign",
                              dir / "cert.pem", "--key", dir / "key.pem"});
    ASSERT_EQ(0, pack.code) << pack.err;
    Bytes signedFile = ReadBytes(setup);
    u32 table = TableOffset(signedFile);
    ASSERT_EQ(0u, table % 8);
    ASSERT_LT((u32)ARCHIVE_OFFSET, table);

    struct Case {
        const char* what;
        std::function<void(const std::string&)> damage;
        const char* message;
    } cases[] = {
        {"a byte after the table", [](const std::string& p) { Bytes b = ReadBytes(p); b.push_back(0); WriteBytes(p, b); },
         "bytes follow the end record"},
        {"the program changed after signing", [](const std::string& p) { FlipByte(p, 0xD000, 1); },
         "it was changed after signing"},
        {"an archive byte changed after signing",
         [&](const std::string& p) { FlipByte(p, ARCHIVE_OFFSET + 30, ReadBytes(p)[ARCHIVE_OFFSET + 30] ^ 0x20); },
         "it was changed after signing"},
        {"a table entry of another kind", [&](const std::string& p) { FlipByte(p, table + 6, 1); },
         "a certificate table entry of revision 512 and type 1"},
        {"a table entry longer than the table", [&](const std::string& p) { FlipByte(p, table + 3, 1); },
         "does not fit the table"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string copy = dir / "damaged.exe";
        WriteBytes(copy, signedFile);
        c.damage(copy);
        QuillRun test = RunQuill({"test", "-q", copy});
        EXPECT_EQ(1, test.code) << test.out << test.err;
        EXPECT_TRUE(Contains(test.err, c.message)) << test.err;
    }

    // Archive bytes between the end record and the table (more than alignment) are no
    // signature's padding: an unsigned installer with 9 bytes added, then signed.
    QuillRun plain = RunQuill({"pack", Product(), ProductIni(), "-o", dir / "plain.exe", "--stub", stub, "--no-uninstall", "-q"});
    ASSERT_EQ(0, plain.code) << plain.err;
    // Signed by osslsigncode alone, as someone signs what quill wrote: sound.
    Shell external = Sh("osslsigncode sign -certs " + dir / "cert.pem" + " -key " + dir / "key.pem" + " -in " +
                        dir / "plain.exe" + " -out " + dir / "external.exe");
    ASSERT_EQ(0, external.code) << external.out;
    QuillRun sound = RunQuill({"test", dir / "external.exe"});
    EXPECT_EQ(0, sound.code) << sound.err;
    EXPECT_TRUE(Contains(sound.out, "digest matches")) << sound.out;
    Bytes grown = ReadBytes(dir / "plain.exe");
    grown.resize(grown.size() + 9, 0);
    WriteBytes(dir / "grown.exe", grown);
    Shell sign = Sh("osslsigncode sign -certs " + dir / "cert.pem" + " -key " + dir / "key.pem" + " -in " +
                     dir / "grown.exe" + " -out " + dir / "grown-signed.exe");
    ASSERT_EQ(0, sign.code) << sign.out;
    QuillRun test = RunQuill({"test", "-q", dir / "grown-signed.exe"});
    EXPECT_EQ(1, test.code);
    EXPECT_TRUE(std::regex_search(test.err, std::regex("(9|1[0-6]) bytes follow the end record"))) << test.err;
}

TEST(QuillSigning, MissingToolsAndBadKeysAreUsageErrors)
{
    NEED_STUB();
    TempDir dir;
    QuillRun half = RunQuill({"pack", Product(), ProductIni(), "-o", dir / "a.exe", "--sign", dir / "cert.pem"});
    EXPECT_EQ(2, half.code);
    EXPECT_TRUE(Contains(half.err, "--sign CERT and --key KEY together")) << half.err;

    WriteBytes(dir / "cert.pem", TextBytes("not a certificate\n"));
    WriteBytes(dir / "key.pem", TextBytes("not a key\n"));
    // A PATH with the tools the test itself needs, but no osslsigncode.
    std::string path = getenv("PATH") ? getenv("PATH") : "";
    MakeDir(dir / "bin");
    ASSERT_EQ(0, symlink("/bin/rm", (dir / "bin/rm").c_str()));
    setenv("PATH", (dir / "bin").c_str(), 1);
    QuillRun missing = RunQuill({"pack", Product(), ProductIni(), "-o", dir / "b.exe", "--stub", stub, "--no-uninstall", "-q",
                                 "--sign", dir / "cert.pem", "--key", dir / "key.pem"});
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(2, missing.code);
    EXPECT_TRUE(Contains(missing.err, "apt-get install osslsigncode")) << missing.err;
    EXPECT_TRUE(Leftovers(dir.Path(), "b.exe").empty() && Leftovers(dir.Path(), ".b.exe").empty());

    if (!Have("osslsigncode"))
        return;
    QuillRun refused = RunQuill({"pack", Product(), ProductIni(), "-o", dir / "c.exe", "--stub", stub, "--no-uninstall", "-q",
                                 "--sign", dir / "cert.pem", "--key", dir / "key.pem"});
    EXPECT_EQ(2, refused.code);
    EXPECT_TRUE(Contains(refused.err, "osslsigncode could not sign")) << refused.err;
    EXPECT_TRUE(Leftovers(dir.Path(), "c.exe").empty() && Leftovers(dir.Path(), ".c.exe").empty());
}

// A .ico file of square 32-bit bitmaps, one per size.
Bytes MakeIcon(const std::vector<int>& sizes)
{
    Bytes header = {0, 0, 1, 0, (u8)sizes.size(), 0};
    Bytes images;
    u32 offset = 6 + 16 * (u32)sizes.size();
    auto put32 = [](Bytes& b, u32 v) {
        for (int i = 0; i < 4; i++)
            b.push_back((u8)(v >> (8 * i)));
    };
    for (int n : sizes) {
        Bytes image;
        put32(image, 40);
        put32(image, n);
        put32(image, 2 * n);
        image.insert(image.end(), {1, 0, 32, 0});
        image.resize(40, 0);
        for (int p = 0; p < n * n; p++)
            image.insert(image.end(), {(u8)n, (u8)p, (u8)(p >> 8), 255});
        image.resize(image.size() + ((n + 31) / 32) * 4 * n, 0);
        header.insert(header.end(), {(u8)(n & 255), (u8)(n & 255), 0, 0, 1, 0, 32, 0});
        put32(header, (u32)image.size());
        put32(header, offset);
        offset += (u32)image.size();
        images.insert(images.end(), image.begin(), image.end());
    }
    header.insert(header.end(), images.begin(), images.end());
    return header;
}

TEST(QuillLook, IconAndVersionReadBackWithOtherTools)
{
    NEED_STUB();
    if (!Have("i686-w64-mingw32-windres") || !Have("wrestool"))
        GTEST_SKIP() << "i686-w64-mingw32-windres or wrestool (icoutils) missing";
    TempDir dir;
    Bytes icon = MakeIcon({16, 32, 48});
    WriteBytes(dir / "product.ico", icon);
    // The icon from the project file, beside it, its bitmaps kept for Windows XP; the
    // version from options.
    WriteBytes(dir / "product.ini", TextBytes("[installer]\ntitle = Проба Viewer\ninstall-dir = Proba\n"
                                              "language = russian\nicon = product.ico\nicon-xp = yes\n"
                                              "company = ООО Проба\n"));
    QuillRun pack = RunQuill({"pack", Product(), dir / "product.ini", "-o", dir / "setup.exe", "--stub", stub, "--no-uninstall",
                              "-q", "--version", "1.2.3.4", "--copyright", "(c) 2026 Proba",
                              "--description", "Proba Viewer installer"});
    ASSERT_EQ(0, pack.code) << pack.err;

    Shell rc = Sh("i686-w64-mingw32-windres -O rc -i " + dir / "setup.exe");
    ASSERT_EQ(0, rc.code) << rc.out;
    for (const char* expected : {"FILEVERSION 1, 2, 3, 4", "PRODUCTVERSION 1, 2, 3, 4", "BLOCK \"041904B0\"",
                                 "VALUE \"FileVersion\", \"1.2.3.4\"", "VALUE \"LegalCopyright\", \"(c) 2026 Proba\"",
                                 "VALUE \"FileDescription\", \"Proba Viewer installer\"",
                                 "VALUE \"ProductName\", L\"\\x041f\\x0440\\x043e\\x0431\\x0430 Viewer\"",
                                 "VALUE \"CompanyName\", L\"\\x041e\\x041e\\x041e",
                                 "VALUE \"Translation\", 0x419, 1200", "Has 3 elements", "102 DIALOG", "116 DIALOG",
                                 "RT_MANIFEST"})
        EXPECT_TRUE(Contains(rc.out, expected)) << expected << "\n" << rc.out;
    // wrestool: the group names three images, each one the very bytes of the .ico's.
    Shell group = Sh("wrestool -x -R -t14 -n101 " + dir / "setup.exe" + " | od -An -tu2 -N6");
    std::istringstream words(group.out);
    int reserved = -1, type = -1, count = -1;
    words >> reserved >> type >> count;
    EXPECT_EQ(0, reserved);
    EXPECT_EQ(1, type);
    EXPECT_EQ(3, count) << group.out;
    for (int n = 1; n <= 3; n++) {
        size_t entry = 6 + 16 * (n - 1);
        u32 size = icon[entry + 8] | icon[entry + 9] << 8, offset = icon[entry + 12] | icon[entry + 13] << 8;
        Shell image = Sh("wrestool -x -R -t3 -n" + std::to_string(n) + " " + dir / "setup.exe");
        EXPECT_EQ(0, image.code);
        EXPECT_EQ(std::string(icon.begin() + offset, icon.begin() + offset + size), image.out) << n;
    }
    // The PE checksum is the whole file's, as osslsigncode computes it (it says "Current
    // PE checksum" and "Calculated" only when they differ). osslsigncode leaves an odd
    // file's last byte and length's odd unit out, where the loader's own sum (computed here)
    // counts them.
    Bytes file = ReadBytes(dir / "setup.exe");
    u32 field = PeChecksumField(file);
    ASSERT_GT(field, 0u);
    EXPECT_EQ(OwnPeChecksum(file, field), file[field] | file[field + 1] << 8 | file[field + 2] << 16 |
                                              (u32)file[field + 3] << 24);
    if (Have("osslsigncode") && file.size() % 2 == 0) {
        Shell checksum = Sh("osslsigncode verify -in " + dir / "setup.exe");
        EXPECT_TRUE(std::regex_search(checksum.out, std::regex("\nPE checksum +: [0-9A-F]{8}"))) << checksum.out;
        EXPECT_FALSE(Contains(checksum.out, "Calculated PE checksum")) << checksum.out;
    }
    // Still a sound installer that the core extracts.
    u32 code = 99;
    EXPECT_EQ(ReadTree(Product()), InstallWithCore(dir / "setup.exe", code));
    EXPECT_EQ(0u, code);
}

TEST(QuillLook, RefusedIconsVersionsAndSizes)
{
    NEED_STUB();
    TempDir dir;
    // Two 128x128 images of noise: neither fits, not even as PNG.
    Bytes big = MakeIcon({128, 128});
    for (size_t image = 0, first = 6 + 2 * 16; image < 2; image++) {
        Bytes noise = RandomBytes(128 * 128 * 4, 7 + (unsigned)image);
        std::copy(noise.begin(), noise.end(), big.begin() + first + image * (big.size() - first) / 2 + 40);
    }
    WriteBytes(dir / "big.ico", big);
    WriteBytes(dir / "text.ico", TextBytes("not an icon at all"));
    struct Case {
        std::vector<std::string> options;
        std::string message;
    } cases[] = {
        {{"--icon", dir / "text.ico"}, "not an icon file (.ico)"},
        {{"--icon", dir / "missing.ico"}, "cannot read icon"},
        {{"--version", "1.2.3.4.5"}, "one to four numbers up to 65535"},
        {{"--version", "1.65536"}, "one to four numbers up to 65535"},
        {{"--company", "Proba"}, "needs a version"},
        {{"--icon", dir / "big.ico"}, "fits in front of the archive"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"pack", Product(), ProductIni(), "-o", dir / "setup.exe", "--stub", stub, "--no-uninstall"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        QuillRun pack = RunQuill(args);
        EXPECT_EQ(c.message == "cannot read icon" ? 3 : 2, pack.code) << c.options[0] << pack.err;
        EXPECT_TRUE(Contains(pack.err, c.message)) << pack.err;
        EXPECT_TRUE(Leftovers(dir.Path(), "setup.exe").empty());
        if (c.message.find("fits") != std::string::npos) {
            // "the smallest, the 128x128 image (N bytes), has F bytes free": N > F.
            std::smatch m;
            ASSERT_TRUE(std::regex_search(pack.err, m, std::regex("the 128x128 image \\(([0-9,]+) bytes\\), has "
                                                                  "([0-9,]+) bytes free")));
            auto number = [](std::string text) {
                text.erase(std::remove(text.begin(), text.end(), ','), text.end());
                return std::stoul(text);
            };
            EXPECT_GT(number(m[1]), 128u * 128 * 4);
            EXPECT_GT(number(m[1]), number(m[2]));
        }
    }
}

TEST(QuillReproducible, SourceDateEpochGivesTheSameBytes)
{
    TempDir dir;
    std::string stub = WriteStub(dir.Path());
    std::string tree = dir / "tree";
    MakeDir(tree);
    MakeDir(tree + "/docs");
    WriteBytes(tree + "/a.txt", TextBytes("first build"));
    WriteBytes(tree + "/docs/b.txt", TextBytes("second file"));
    WriteBytes(tree + "/old.txt", TextBytes("older than the epoch"));
    const time_t epoch = 1700000000;
    SetTime(tree + "/old.txt", epoch - 86400, 500);
    auto build = [&](const std::string& out, time_t now) {
        SetTime(tree + "/a.txt", now, 123456789);
        SetTime(tree + "/docs/b.txt", now + 7, 0);
        QuillRun pack = RunQuill({"pack", tree, "-o", out, "--stub", stub, "--no-uninstall", "-q", "--title", "Same",
                                  "--install-dir", "Same"});
        EXPECT_EQ(0, pack.code) << pack.err;
    };
    setenv("SOURCE_DATE_EPOCH", std::to_string(epoch).c_str(), 1);
    build(dir / "one.exe", epoch + 1000);
    build(dir / "two.exe", epoch + 99999);
    unsetenv("SOURCE_DATE_EPOCH");
    build(dir / "three.exe", epoch + 99999);
    EXPECT_EQ(ReadBytes(dir / "one.exe"), ReadBytes(dir / "two.exe"));
    EXPECT_NE(ReadBytes(dir / "one.exe"), ReadBytes(dir / "three.exe"));
    // Later times are the epoch; an earlier one stays as it was.
    QuillRun list = RunQuill({"list", "--json", dir / "one.exe"});
    EXPECT_TRUE(Contains(list.out, "\"path\": \"a.txt\", \"size\": 11, \"time\": \"2023-11-14 22:13:20Z\""))
        << list.out;
    EXPECT_TRUE(Contains(list.out, "\"path\": \"old.txt\", \"size\": 20, \"time\": \"2023-11-13 22:13:20.0000005Z\""))
        << list.out;

    setenv("SOURCE_DATE_EPOCH", "yesterday", 1);
    QuillRun bad = RunQuill({"pack", tree, "-o", dir / "four.exe", "--stub", stub, "--no-uninstall", "--title", "T", "--install-dir", "T"});
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_EQ(2, bad.code);
    EXPECT_TRUE(Contains(bad.err, "SOURCE_DATE_EPOCH=yesterday")) << bad.err;
}

TEST(QuillList, GroupColumnsAlignByCharacters)
{
    TempDir dir;
    MakeDir(dir / "tree");
    WriteBytes(dir / "tree/x.txt", TextBytes("x"));
    QuillRun pack = RunQuill({"pack", dir / "tree", "-o", dir / "setup.exe", "--stub", WriteStub(dir.Path()), "--no-uninstall", "-q",
                              "--title", "T", "--install-dir", "T", "--language", "russian", "--group-name", "Группа",
                              "--group-item", "Справка|\\x.txt", "--group-item", "Readme|\\x.txt"});
    ASSERT_EQ(0, pack.code) << pack.err;
    QuillRun list = RunQuill({"list", dir / "setup.exe", "--codepage", "1251"});
    ASSERT_EQ(0, list.code) << list.err;
    // Both paths start in the same column, counted in characters.
    std::smatch cyrillic, latin;
    ASSERT_TRUE(std::regex_search(list.out, cyrillic, std::regex("\n  (Справка +)\\\\x.txt")));
    ASSERT_TRUE(std::regex_search(list.out, latin, std::regex("\n  (Readme +)\\\\x.txt")));
    EXPECT_EQ(std::string(cyrillic[1]).size() - std::string("Справка").size() / 2, std::string(latin[1]).size());
}

}  // namespace
