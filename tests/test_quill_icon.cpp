// The product's icon in the room in front of the archive: each image as a bitmap or a
// PNG, whichever is smaller and shows the same pixels (PNG decoded here with libpng); the
// largest images left out with a warning when they still do not fit; --icon-all and an
// icon of which nothing fits refused with nothing written; read back by wrestool and
// icotool (tests/icon_check.py).
#include <gtest/gtest.h>

#include <png.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "pe/icon.h"
#include "test_quill_support.h"

namespace {

std::string Stub()
{
    const char* given = getenv("QUILL_STUB");
    std::string path = given && *given ? given : QUILL_INSTALLER_FILE;
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 ? path : "";
}

int Shell(const std::string& command, std::string* output = nullptr)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    size_t n;
    std::string text;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        text.append(buffer, n);
    if (output)
        *output = text;
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string SOURCE = QUILL_SOURCE_DIR;

void Put32(Bytes& b, u32 v)
{
    for (int i = 0; i < 4; i++)
        b.push_back((u8)(v >> (8 * i)));
}

// An icon bitmap of n x n pixels and bits 4, 24 or 32 (4: a 16-colour palette). colour
// gives each pixel's RGBA, masked the AND mask's bit; 32-bit images keep their alpha.
Bytes Bitmap(u32 n, u32 bits, const std::function<void(u32, u32, u8*)>& colour,
             const std::function<bool(u32, u32)>& masked = [](u32, u32) { return false; })
{
    Bytes b;
    Put32(b, 40);
    Put32(b, n);
    Put32(b, 2 * n);
    b.insert(b.end(), {1, 0, (u8)bits, 0});
    b.resize(40, 0);
    if (bits == 4)
        for (u32 i = 0; i < 16; i++)
            b.insert(b.end(), {(u8)(i * 16), (u8)(255 - i * 8), (u8)(i * 5), 0});
    u32 stride = (n * bits + 31) / 32 * 4, maskStride = (n + 31) / 32 * 4;
    for (u32 y = n; y-- > 0;) {
        Bytes row(stride, 0);
        for (u32 x = 0; x < n; x++) {
            u8 p[4];
            colour(x, y, p);
            if (bits == 4)
                row[x / 2] |= (u8)((p[0] & 15) << (x % 2 ? 0 : 4));  // p[0]: the palette index
            else
                for (u32 c = 0; c < bits / 8; c++)
                    row[x * bits / 8 + c] = c < 3 ? p[2 - c] : p[3];
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    for (u32 y = n; y-- > 0;) {
        Bytes row(maskStride, 0);
        for (u32 x = 0; x < n; x++)
            if (masked(x, y))
                row[x / 8] |= (u8)(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

void Smooth(u32 x, u32 y, u8* p)
{
    p[0] = (u8)(x * 4);
    p[1] = (u8)(y * 4);
    p[2] = (u8)(128 + x - y);
    p[3] = (u8)(x < 4 ? 0 : 255);
}

// Pixels no compressor shortens, alpha included.
void Noise(u32 x, u32 y, u8* p)
{
    u32 h = (x * 73856093u) ^ (y * 19349663u) ^ 0x5bd1e995u;
    for (int i = 0; i < 4; i++) {
        h = h * 1664525u + 1013904223u;
        p[i] = (u8)(h >> 24);
    }
}

IconImage ImageOf(u32 n, u32 bits, const Bytes& data)
{
    IconImage image;
    image.width = image.height = n;
    u8 entry[8] = {(u8)(n & 255), (u8)(n & 255), 0, 0, 1, 0, (u8)bits, 0};
    memcpy(image.entry, entry, 8);
    image.data = data;
    image.png = data.size() > 4 && data[1] == 'P';
    return image;
}

// The bytes an image is stored in.
size_t Stored(u32 n, const Bytes& bitmap)
{
    return SmallestForm(ImageOf(n, 32, bitmap), false).data.size();
}

// The pixels of a PNG as libpng's simplified reader gives them, RGBA top row first.
Bytes LibpngPixels(const Bytes& png, u32& width, u32& height)
{
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size()))
        return {};
    image.format = PNG_FORMAT_RGBA;
    Bytes pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    width = image.width;
    height = image.height;
    return pixels;
}

// The RGBA a bitmap of the generators above shows: colour, and alpha from the mask where
// the image has no alpha of its own.
Bytes Expected(u32 n, u32 bits, const std::function<void(u32, u32, u8*)>& colour,
               const std::function<bool(u32, u32)>& masked = [](u32, u32) { return false; })
{
    Bytes out;
    for (u32 y = 0; y < n; y++)
        for (u32 x = 0; x < n; x++) {
            u8 p[4];
            colour(x, y, p);
            if (bits != 32)
                p[3] = masked(x, y) ? 0 : 255;
            out.insert(out.end(), p, p + 4);
        }
    return out;
}

TEST(IconForms, EachImageInItsSmallestFaithfulForm)
{
    // A 32-bit image with alpha: a PNG of its very pixels, alpha included.
    IconImage smooth = ImageOf(48, 32, Bitmap(48, 32, Smooth));
    IconImage form = SmallestForm(smooth, false);
    ASSERT_TRUE(form.png);
    EXPECT_LT(form.data.size(), smooth.data.size() / 3);
    EXPECT_EQ(0, memcmp(form.entry, smooth.entry, 8));  // the group still names a 48x48 32-bit image
    u32 w = 0, h = 0;
    EXPECT_EQ(Expected(48, 32, Smooth), LibpngPixels(form.data, w, h));
    EXPECT_EQ(48u, w);
    EXPECT_EQ(48u, h);

    // Smaller as a bitmap: a 4-bit image of noise (as PNG it takes 4 bytes a pixel).
    IconImage palette = ImageOf(16, 4, Bitmap(16, 4, Noise));
    EXPECT_EQ(palette.data, SmallestForm(palette, false).data);

    // 24-bit: the AND mask becomes alpha where it hides black; where it hides another colour
    // the pixel inverts the screen, which no PNG shows, and the bitmap stays.
    auto corner = [](u32 x, u32 y) { return x < 8 && y < 8; };
    auto blackCorner = [&](u32 x, u32 y, u8* p) {
        Smooth(x, y, p);
        if (corner(x, y))
            p[0] = p[1] = p[2] = 0;
    };
    IconImage masked = ImageOf(32, 24, Bitmap(32, 24, blackCorner, corner));
    form = SmallestForm(masked, false);
    ASSERT_TRUE(form.png);
    EXPECT_EQ(Expected(32, 24, blackCorner, corner), LibpngPixels(form.data, w, h));
    IconImage inverting = ImageOf(32, 24, Bitmap(32, 24, Smooth, corner));
    EXPECT_EQ(inverting.data, SmallestForm(inverting, false).data);
    // A 32-bit image without alpha is drawn through its mask: folded in the same way.
    auto opaque = [&](u32 x, u32 y, u8* p) {
        blackCorner(x, y, p);
        p[3] = 0;
    };
    form = SmallestForm(ImageOf(32, 32, Bitmap(32, 32, opaque, corner)), false);
    ASSERT_TRUE(form.png);
    EXPECT_EQ(Expected(32, 24, blackCorner, corner), LibpngPixels(form.data, w, h));
}

// An RGBA PNG whose pixel data zlib stores uncompressed, as some tools write them.
Bytes StoredPng(const Bytes& rgba, u32 n)
{
    auto chunk = [](const char* kind, const Bytes& body) {
        Bytes out = {(u8)(body.size() >> 24), (u8)(body.size() >> 16), (u8)(body.size() >> 8), (u8)body.size()};
        Bytes typed(kind, kind + 4);
        typed.insert(typed.end(), body.begin(), body.end());
        u32 crc = (u32)crc32(0, typed.data(), (uInt)typed.size());
        out.insert(out.end(), typed.begin(), typed.end());
        out.insert(out.end(), {(u8)(crc >> 24), (u8)(crc >> 16), (u8)(crc >> 8), (u8)crc});
        return out;
    };
    Bytes raw;
    for (u32 y = 0; y < n; y++) {
        raw.push_back(0);
        raw.insert(raw.end(), rgba.begin() + y * n * 4, rgba.begin() + (y + 1) * n * 4);
    }
    uLongf size = compressBound((uLong)raw.size());
    Bytes packed(size);
    compress2(packed.data(), &size, raw.data(), (uLong)raw.size(), 0);
    packed.resize(size);
    Bytes header = {(u8)(n >> 24), (u8)(n >> 16), (u8)(n >> 8), (u8)n, (u8)(n >> 24), (u8)(n >> 16), (u8)(n >> 8),
                    (u8)n, 8, 6, 0, 0, 0};
    return Join({{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, chunk("IHDR", header), chunk("IDAT", packed),
                 chunk("IEND", {})});
}

TEST(IconForms, PngImagesAndWindowsXp)
{
    // A PNG stored without compression is recompressed to the same pixels; one that is
    // already as small as we make it stays byte for byte.
    Bytes rgba = Expected(64, 32, Smooth);
    Bytes best = EncodePng(rgba, 64, 64);
    Bytes loose = StoredPng(rgba, 64);
    IconImage form = SmallestForm(ImageOf(64, 32, loose), false);
    EXPECT_LT(form.data.size(), loose.size() / 4);
    u32 w, h;
    EXPECT_EQ(rgba, LibpngPixels(form.data, w, h));
    EXPECT_EQ(best, SmallestForm(ImageOf(64, 32, best), false).data);
    // One that libpng cannot read (cut short) is kept as it came, also for XP.
    Bytes cut(loose.begin(), loose.begin() + loose.size() / 2);
    EXPECT_EQ(cut, SmallestForm(ImageOf(64, 32, cut), false).data);
    EXPECT_EQ(cut, SmallestForm(ImageOf(64, 32, cut), true).data);

    // --icon-xp: below 256 a bitmap stays as it is and a PNG becomes a 32-bit bitmap of its
    // pixels; 256 still goes PNG.
    IconImage bitmap = ImageOf(48, 32, Bitmap(48, 32, Smooth));
    EXPECT_EQ(bitmap.data, SmallestForm(bitmap, true).data);
    form = SmallestForm(ImageOf(64, 32, best), true);
    ASSERT_FALSE(form.png);
    Bytes back;
    ASSERT_TRUE(BitmapPixels(form.data, back, w, h));
    EXPECT_EQ(rgba, back);
    EXPECT_EQ(32u, form.Bits());
    EXPECT_TRUE(SmallestForm(ImageOf(256, 32, Bitmap(256, 32, Smooth)), true).png);
    EXPECT_EQ("39,205", Thousands(39205));
    EXPECT_EQ("1,234,567", Thousands(1234567));
    EXPECT_EQ("999", Thousands(999));
}

// An .ico of the images given, in their order.
Bytes IcoFile(const std::vector<std::pair<u32, Bytes>>& images)
{
    Bytes head = {0, 0, 1, 0, (u8)images.size(), 0}, body;
    u32 offset = 6 + 16 * (u32)images.size();
    for (const auto& image : images) {
        head.insert(head.end(), {(u8)(image.first & 255), (u8)(image.first & 255), 0, 0, 1, 0, 32, 0});
        Put32(head, (u32)image.second.size());
        Put32(head, offset);
        offset += (u32)image.second.size();
        body.insert(body.end(), image.second.begin(), image.second.end());
    }
    return Join({head, body});
}

class QuillIcon : public ::testing::Test {
protected:
    void SetUp() override
    {
        stub = Stub();
        if (stub.empty())
            GTEST_SKIP() << "no installer program: build with i686-w64-mingw32 or set QUILL_STUB";
        if (Shell("command -v python3") != 0)
            GTEST_SKIP() << "python3 missing";
    }
    // make_icon.py's icon: bitmaps below 256, a PNG of 256 with the grain given.
    std::string MakeIcon(const std::string& name, const std::string& grain)
    {
        std::string path = dir / name;
        std::string said;
        EXPECT_EQ(0, Shell("python3 " + SOURCE + "/tests/make_icon.py " + path + " 16,32,48,256 " + grain, &said))
            << said;
        return path;
    }
    QuillRun Pack(const std::string& icon, std::vector<std::string> more = {}, const std::string& ini = "")
    {
        std::vector<std::string> args = {"pack", SOURCE + "/examples/product",
                                         ini.empty() ? SOURCE + "/examples/product.ini" : ini,
                                         "-o", dir / "setup.exe", "--stub", stub, "-q", "--icon", icon,
                                         "--version", "1.2.3.4"};
        args.insert(args.end(), more.begin(), more.end());
        return RunQuill(args);
    }
    // icon_check.py: wrestool and icotool give back the sizes, each PNG the source's pixels.
    void CheckWithOtherTools(const std::string& icon, const std::string& sizes)
    {
        if (Shell("command -v wrestool && command -v icotool") != 0) {
            ADD_FAILURE() << "wrestool and icotool (icoutils) are needed";
            return;
        }
        std::string said;
        EXPECT_EQ(0, Shell("python3 " + SOURCE + "/tests/icon_check.py " + dir / "setup.exe" + " " + icon + " " +
                               sizes, &said))
            << said;
    }
    TempDir dir;
    std::string stub;
};

TEST_F(QuillIcon, AThirtyKilobyteIconPacksWholeAndListShowsIt)
{
    std::string icon = MakeIcon("whole.ico", "0.035");
    struct stat info;
    ASSERT_EQ(0, stat(icon.c_str(), &info));
    EXPECT_GT(info.st_size, 28000);  // about 30 KB: 15 KB of bitmaps, a 14 KB PNG
    QuillRun pack = Pack(icon, {"--icon-all"});
    ASSERT_EQ(0, pack.code) << pack.err;
    EXPECT_FALSE(Contains(pack.err, "warning")) << pack.err;
    CheckWithOtherTools(icon, "16,32,48,256");

    QuillRun list = RunQuill({"list", dir / "setup.exe"});
    ASSERT_EQ(0, list.code) << list.err;
    EXPECT_TRUE(Contains(list.out, "icon          4 images\n")) << list.out;
    for (const char* size : {" 16x16 ", " 32x32 ", " 48x48 ", "256x256 "})
        EXPECT_TRUE(std::regex_search(list.out, std::regex(std::string(size) + " +32 bits  PNG +[0-9]+ bytes\n")))
            << size << list.out;
    std::smatch free;
    ASSERT_TRUE(std::regex_search(list.out, free, std::regex("\nfree +([0-9]+) bytes in front of the archive\n")));
    QuillRun json = RunQuill({"list", "--json", dir / "setup.exe"});
    ASSERT_EQ(0, json.code);
    EXPECT_TRUE(Contains(json.out, "\"freeBytes\": " + free[1].str() + ",")) << json.out;
    EXPECT_TRUE(std::regex_search(json.out, std::regex("\"icon\": \\[(\\{\"width\": [0-9]+, \"height\": [0-9]+, "
                                                       "\"bits\": 32, \"bytes\": [0-9]+, \"format\": \"png\"\\}(, )?){4}\\]")))
        << json.out;
    // A volume's disk1.pak is no program: no icon, no room.
    ASSERT_EQ(0, RunQuill({"pack", SOURCE + "/examples/product", SOURCE + "/examples/product.ini", "-o",
                           dir / "v/setup.exe", "--stub", stub, "-q", "--volume-size", "1.44M"}).code);
    EXPECT_TRUE(Contains(RunQuill({"list", "--json", dir / "v/disk1.pak"}).out, "\"icon\": null,\n  \"freeBytes\": null"));
}

TEST_F(QuillIcon, TheLargestImagesAreLeftOutOneByOneWithAWarning)
{
    // A 39 KB icon: its PNG no longer fits beside the bitmaps, now PNG too.
    std::string icon = MakeIcon("large.ico", "0.1");
    QuillRun pack = Pack(icon);
    ASSERT_EQ(0, pack.code) << pack.err;
    std::smatch m;
    std::regex warning("quill: warning: icon: the ([0-9]+)x([0-9]+) image \\(([0-9,]+) bytes\\) is left out: "
                       "([0-9,]+) bytes are free\n");
    ASSERT_TRUE(std::regex_search(pack.err, m, warning)) << pack.err;
    auto number = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), ','), text.end());
        return std::stoul(text);
    };
    EXPECT_EQ("256", m[1].str());
    EXPECT_GT(number(m[3]), number(m[4]));
    EXPECT_GT(number(m[3]), 20000u);
    CheckWithOtherTools(icon, "16,32,48");

    // Two that do not fit go the larger first, and the kept ones keep their order.
    Bytes big = Bitmap(100, 32, Noise), bigger = Bitmap(120, 32, Noise);
    WriteBytes(dir / "two.ico", IcoFile({{16, Bitmap(16, 32, Smooth)}, {120, bigger}, {32, Bitmap(32, 32, Smooth)},
                                         {100, big}}));
    pack = Pack(dir / "two.ico");
    ASSERT_EQ(0, pack.code) << pack.err;
    std::vector<std::string> left;
    for (auto it = std::sregex_iterator(pack.err.begin(), pack.err.end(), warning); it != std::sregex_iterator(); ++it)
        left.push_back((*it)[1].str() + " " + (*it)[3].str());
    EXPECT_EQ((std::vector<std::string>{"120 " + Thousands(Stored(120, bigger)), "100 " + Thousands(Stored(100, big))}),
              left)
        << pack.err;
    QuillRun list = RunQuill({"list", dir / "setup.exe"});
    EXPECT_TRUE(std::regex_search(list.out, std::regex("icon +2 images\n +16x16 .*\n +32x32 "))) << list.out;
    // The uninstaller is a file of the archive, with no archive behind it: it keeps all four.
    {
        ASSERT_EQ(0, RunQuill({"extract", dir / "setup.exe", "-d", dir / "out", "-q"}).code);
        std::string command = "wrestool -l --type=3 '" + dir / "out/uninstall.exe" + "' | wc -l > '" + dir / "n" + "'";
        ASSERT_EQ(0, system(command.c_str()));
        Bytes count = ReadBytes(dir / "n");
        EXPECT_EQ("4\n", std::string(count.begin(), count.end()));
    }
}

TEST_F(QuillIcon, AllOrNothingAndNothingFittingFailWritingNothing)
{
    std::string icon = MakeIcon("large.ico", "0.1");
    QuillRun all = Pack(icon, {"--icon-all"});
    EXPECT_EQ(2, all.code);
    EXPECT_TRUE(std::regex_search(all.err, std::regex("icon: the 256x256 image \\([0-9,]+ bytes\\) does not fit: "
                                                      "[0-9,]+ bytes are free \\(--icon-all")))
        << all.err;
    EXPECT_TRUE(Leftovers(dir.Path(), "setup.exe").empty());
    // The same from the project file; and icon-xp there keeps the small ones bitmaps, so
    // that still less fits.
    WriteBytes(dir / "p.ini", TextBytes("[installer]\ntitle = T\ninstall-dir = T\nicon-all = yes\n"));
    EXPECT_EQ(2, Pack(icon, {}, dir / "p.ini").code);
    EXPECT_TRUE(Leftovers(dir.Path(), "setup.exe").empty());
    WriteBytes(dir / "xp.ini", TextBytes("[installer]\ntitle = T\ninstall-dir = T\nicon-xp = yes\n"));
    QuillRun xp = Pack(MakeIcon("whole.ico", "0.035"), {}, dir / "xp.ini");
    ASSERT_EQ(0, xp.code) << xp.err;
    EXPECT_TRUE(Contains(xp.err, "icon: the 256x256 image")) << xp.err;
    EXPECT_TRUE(std::regex_search(RunQuill({"list", dir / "setup.exe"}).out,
                                  std::regex("16x16   32 bits  bitmap +1128 bytes")));
    WriteBytes(dir / "bad.ini", TextBytes("[installer]\ntitle = T\ninstall-dir = T\nicon-xp = maybe\n"));
    QuillRun bad = Pack(icon, {}, dir / "bad.ini");
    EXPECT_EQ(2, bad.code);
    EXPECT_TRUE(Contains(bad.err, "icon-xp is yes or no")) << bad.err;

    // Not one image fits: the smallest is named with the room it would have had.
    unlink((dir / "setup.exe").c_str());
    WriteBytes(dir / "noise.ico", IcoFile({{80, Bitmap(80, 32, Noise)}, {160, Bitmap(160, 32, Noise)}}));
    QuillRun none = Pack(dir / "noise.ico");
    EXPECT_EQ(2, none.code);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(none.err, m, std::regex("icon: not one image of .*noise.ico fits in front of the "
                                                          "archive: the smallest, the 80x80 image \\(([0-9,]+) "
                                                          "bytes\\), has ([0-9,]+) bytes free")))
        << none.err;
    EXPECT_EQ(Thousands(Stored(80, Bitmap(80, 32, Noise))), m[1].str());
    EXPECT_TRUE(Leftovers(dir.Path(), "setup.exe").empty());
}

}  // namespace

// The program's own icon is a PNG (resources/installer.ico); with --icon-xp and no icon of
// the product's it becomes a 32-bit bitmap of the same pixels, read back by wrestool.
TEST_F(QuillIcon, TheProgramsOwnIconGoesBitmapForXp)
{
    std::vector<IconImage> own = ReadIconFile(SOURCE + "/resources/installer.ico");
    ASSERT_EQ(1u, own.size());
    ASSERT_TRUE(own[0].png);
    Bytes rgba, back;
    u32 w = 0, h = 0;
    ASSERT_TRUE(DecodePng(own[0].data, rgba, w, h));
    ASSERT_EQ(32u, w);
    EXPECT_EQ(0, rgba[3]);  // the corner is transparent
    for (bool xp : {false, true}) {
        std::vector<std::string> args = {"pack", SOURCE + "/examples/product", SOURCE + "/examples/product.ini",
                                         "-o", dir / "setup.exe", "--stub", stub, "-q"};
        if (xp)
            args.push_back("--icon-xp");
        QuillRun pack = RunQuill(args);
        ASSERT_EQ(0, pack.code) << pack.err;
        std::string list = RunQuill({"list", dir / "setup.exe"}).out;
        EXPECT_TRUE(std::regex_search(list, std::regex(xp ? "icon +1 image\n +32x32   32 bits  bitmap +4264 bytes"
                                                          : "icon +1 image\n +32x32    4 bits  PNG ")))
            << list;
        ASSERT_EQ(0, Shell("wrestool -x --type=14 --name=101 -o '" + dir / "got.ico" + "' '" + dir / "setup.exe" + "'"));
        std::vector<IconImage> got = ReadIconFile(dir / "got.ico");
        ASSERT_EQ(1u, got.size());
        EXPECT_EQ(!xp, got[0].png);
        u32 w2 = 0, h2 = 0;
        ASSERT_TRUE(xp ? BitmapPixels(got[0].data, back, w2, h2) : DecodePng(got[0].data, back, w2, h2));
        EXPECT_EQ(rgba, back);
    }
}
