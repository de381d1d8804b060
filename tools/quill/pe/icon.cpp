#include "icon.h"

#include <png.h>
#include <string.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "quill.h"

namespace {

const u8 PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

u32 U16(const u8* p)
{
    return p[0] | p[1] << 8;
}

u32 U32(const u8* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | (u32)p[3] << 24;
}

void Put32(std::vector<u8>& b, u32 v)
{
    for (int i = 0; i < 4; i++)
        b.push_back((u8)(v >> (8 * i)));
}

// libpng reports errors by longjmp to the setjmp of the call that started the work: every
// C++ object the work touches lives behind a pointer taken before the setjmp, so nothing
// is left half destroyed.
struct PngOutput {
    std::vector<u8> bytes;
};

void WriteToVector(png_structp png, png_bytep data, png_size_t length)
{
    PngOutput* out = (PngOutput*)png_get_io_ptr(png);
    out->bytes.insert(out->bytes.end(), data, data + length);
}

void NoFlush(png_structp) {}

struct PngInput {
    const std::vector<u8>* bytes;
    size_t at;
};

void ReadFromVector(png_structp png, png_bytep data, png_size_t length)
{
    PngInput* in = (PngInput*)png_get_io_ptr(png);
    if (length > in->bytes->size() - in->at)
        png_error(png, "the PNG ends early");
    memcpy(data, in->bytes->data() + in->at, length);
    in->at += length;
}

void Quiet(png_structp, png_const_charp) {}

// What a PNG is made of, as read with no transforms: enough to write it again.
struct PngParts {
    u32 width = 0, height = 0;
    int depth = 0, colourType = 0;
    std::vector<std::vector<u8>> rows;
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;  // tRNS of a palette image
    bool hasTransparentColour = false;
    png_color_16 transparentColour = {};
    // The chunks that say how the colours are meant; kept so that nothing changes.
    bool hasGamma = false, hasSrgb = false, hasChrm = false, hasIccp = false;
    png_fixed_point gamma = 0, chrm[8] = {};
    int srgbIntent = 0;
    std::string iccpName;
    std::vector<u8> iccp;
    int iccpCompression = 0;
};

// The PNG's parts; pixels as stored (transforms 0) or as 8-bit RGBA (rgba).
bool ReadPng(const std::vector<u8>& data, bool rgba, PngParts& parts)
{
    if (!IsPng(data))
        return false;
    PngInput input{&data, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, Quiet);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    PngParts* out = &parts;
    std::vector<png_bytep> pointers;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &input, ReadFromVector);
    png_set_user_limits(png, 4096, 4096);
    png_read_info(png, info);
    if (rgba) {
        png_set_expand(png);  // palette and low depths to 8 bits, tRNS to alpha
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out->width = png_get_image_width(png, info);
    out->height = png_get_image_height(png, info);
    out->depth = png_get_bit_depth(png, info);
    out->colourType = png_get_color_type(png, info);
    size_t rowBytes = png_get_rowbytes(png, info);
    out->rows.assign(out->height, std::vector<u8>(rowBytes));
    for (auto& row : out->rows)
        pointers.push_back(row.data());
    png_read_image(png, pointers.data());
    png_read_end(png, nullptr);
    if (!rgba) {
        png_colorp colours;
        int count;
        if (png_get_PLTE(png, info, &colours, &count))
            out->palette.assign(colours, colours + count);
        png_bytep alphas;
        png_color_16p colour;
        if (png_get_tRNS(png, info, &alphas, &count, &colour)) {
            if (out->colourType == PNG_COLOR_TYPE_PALETTE) {
                out->alphas.assign(alphas, alphas + count);
            } else {
                out->hasTransparentColour = true;
                out->transparentColour = *colour;
            }
        }
        out->hasGamma = png_get_gAMA_fixed(png, info, &out->gamma) != 0;
        out->hasSrgb = png_get_sRGB(png, info, &out->srgbIntent) != 0;
        out->hasChrm = png_get_cHRM_fixed(png, info, &out->chrm[0], &out->chrm[1], &out->chrm[2], &out->chrm[3],
                                          &out->chrm[4], &out->chrm[5], &out->chrm[6], &out->chrm[7]) != 0;
        png_charp name;
        png_bytep profile;
        png_uint_32 length;
        if (png_get_iCCP(png, info, &name, &out->iccpCompression, &profile, &length)) {
            out->hasIccp = true;
            out->iccpName = name;
            out->iccp.assign(profile, profile + length);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// The parts written as PNG with one filter choice and one zlib strategy, at level 9.
bool WritePng(const PngParts& parts, int filters, int strategy, std::vector<u8>& result)
{
    PngOutput output;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, Quiet);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    const PngParts* in = &parts;
    PngOutput* out = &output;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, WriteToVector, NoFlush);
    png_set_compression_level(png, Z_BEST_COMPRESSION);
    png_set_compression_mem_level(png, 9);
    png_set_compression_strategy(png, strategy);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
    png_set_IHDR(png, info, in->width, in->height, in->depth, in->colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (!in->palette.empty())
        png_set_PLTE(png, info, const_cast<png_colorp>(in->palette.data()), (int)in->palette.size());
    if (!in->alphas.empty())
        png_set_tRNS(png, info, const_cast<png_bytep>(in->alphas.data()), (int)in->alphas.size(), nullptr);
    if (in->hasTransparentColour)
        png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16p>(&in->transparentColour));
    if (in->hasGamma)
        png_set_gAMA_fixed(png, info, in->gamma);
    if (in->hasSrgb)
        png_set_sRGB(png, info, in->srgbIntent);
    if (in->hasChrm)
        png_set_cHRM_fixed(png, info, in->chrm[0], in->chrm[1], in->chrm[2], in->chrm[3], in->chrm[4], in->chrm[5],
                           in->chrm[6], in->chrm[7]);
    if (in->hasIccp)
        png_set_iCCP(png, info, in->iccpName.c_str(), in->iccpCompression, in->iccp.data(), (png_uint_32)in->iccp.size());
    png_write_info(png, info);
    for (const auto& row : in->rows)
        png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    result.swap(out->bytes);
    return true;
}

// The smallest of the filter choices and strategies tried; empty when none could be written.
std::vector<u8> SmallestPng(const PngParts& parts)
{
    std::vector<u8> best;
    for (int filters : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_PAETH, PNG_ALL_FILTERS})
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED}) {
            std::vector<u8> bytes;
            if (WritePng(parts, filters, strategy, bytes) && (best.empty() || bytes.size() < best.size()))
                best.swap(bytes);
        }
    return best;
}

// RGBA rows as a 32-bit icon bitmap: alpha for Windows XP and later, and the AND mask
// (set where alpha is 0) for everything that draws without it.
std::vector<u8> BitmapOf(const std::vector<u8>& rgba, u32 width, u32 height)
{
    u32 maskStride = (width + 31) / 32 * 4;
    std::vector<u8> out;
    Put32(out, 40);
    Put32(out, width);
    Put32(out, 2 * height);
    out.insert(out.end(), {1, 0, 32, 0});
    Put32(out, 0);                                        // BI_RGB
    Put32(out, width * height * 4 + maskStride * height);  // the image's bytes
    out.resize(40, 0);
    for (u32 y = height; y-- > 0;)  // bottom-up
        for (u32 x = 0; x < width; x++) {
            const u8* p = &rgba[(y * width + x) * 4];
            out.insert(out.end(), {p[2], p[1], p[0], p[3]});
        }
    for (u32 y = height; y-- > 0;) {
        std::vector<u8> row(maskStride, 0);
        for (u32 x = 0; x < width; x++)
            if (rgba[(y * width + x) * 4 + 3] == 0)
                row[x / 8] |= (u8)(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

bool IsPng(const std::vector<u8>& data)
{
    return data.size() >= 8 && memcmp(data.data(), PNG_SIGNATURE, 8) == 0;
}

u32 IconImage::Bits() const
{
    if (png) {
        if (data.size() < 26)
            return 0;
        static const u32 channels[7] = {1, 0, 3, 1, 2, 0, 4};
        u32 type = data[25];
        return data[24] * (type < 7 ? channels[type] : 0);
    }
    return data.size() >= 16 ? U16(&data[14]) : 0;
}

std::vector<IconImage> ReadIconFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        FailErrno("cannot read icon " + path);
    std::vector<u8> ico((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto bad = [&](const std::string& why) { Fail(EXIT_USAGE, "--icon " + path + ": " + why); };
    if (ico.size() < 6 || U16(&ico[0]) != 0 || U16(&ico[2]) != 1 || U16(&ico[4]) == 0)
        bad("not an icon file (.ico)");
    u32 count = U16(&ico[4]);
    if (6 + 16ull * count > ico.size())
        bad("the icon's directory runs past its end");
    std::vector<IconImage> images;
    for (u32 i = 0; i < count; i++) {
        const u8* entry = &ico[6 + 16 * i];
        u32 size = U32(entry + 8), offset = U32(entry + 12);
        if (offset > ico.size() || size > ico.size() - offset || size < 8)
            bad("image " + std::to_string(i + 1) + " lies outside the file");
        IconImage image;
        memcpy(image.entry, entry, 8);
        image.width = entry[0] ? entry[0] : 256;
        image.height = entry[1] ? entry[1] : 256;
        image.data.assign(ico.begin() + offset, ico.begin() + offset + size);
        image.png = IsPng(image.data);
        if (!image.png && U32(image.data.data()) != 40)
            bad("image " + std::to_string(i + 1) + " is neither a bitmap nor a PNG");
        images.push_back(image);
    }
    return images;
}

bool BitmapPixels(const std::vector<u8>& b, std::vector<u8>& rgba, u32& width, u32& height)
{
    if (b.size() < 40 || U32(&b[0]) != 40)
        return false;
    int32_t w = (int32_t)U32(&b[4]), h2 = (int32_t)U32(&b[8]);
    u32 bits = U16(&b[14]), compression = U32(&b[16]), used = U32(&b[32]);
    if (w <= 0 || w > 1024 || h2 <= 0 || h2 % 2 || h2 > 2048 || U16(&b[12]) != 1 || compression != 0)
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return false;  // 16-bit colours: how Windows widens them is not ours to guess
    width = (u32)w;
    height = (u32)h2 / 2;
    u32 colours = bits <= 8 ? (used ? used : 1u << bits) : 0;
    if (colours > (bits <= 8 ? 1u << bits : 0))
        return false;
    u64 stride = (width * bits + 31) / 32 * 4, maskStride = (width + 31) / 32 * 4;
    u64 pixelsAt = 40 + 4ull * colours, maskAt = pixelsAt + stride * height;
    if (b.size() < maskAt + maskStride * height)
        return false;
    bool alpha = false;
    if (bits == 32)
        for (u32 y = 0; y < height && !alpha; y++)
            for (u32 x = 0; x < width && !alpha; x++)
                alpha = b[pixelsAt + y * stride + x * 4 + 3] != 0;
    rgba.assign((size_t)width * height * 4, 0);
    for (u32 y = 0; y < height; y++) {
        const u8* row = &b[pixelsAt + (height - 1 - y) * stride];  // bottom-up
        const u8* mask = &b[maskAt + (height - 1 - y) * maskStride];
        for (u32 x = 0; x < width; x++) {
            u8* out = &rgba[((size_t)y * width + x) * 4];
            const u8* bgr;
            if (bits >= 24) {
                bgr = row + x * (bits / 8);
            } else {
                u32 index = (row[x * bits / 8] >> (8 - bits - (x * bits) % 8)) & ((1u << bits) - 1);
                if (index >= colours)
                    return false;
                bgr = &b[40 + 4 * index];
            }
            out[0] = bgr[2];
            out[1] = bgr[1];
            out[2] = bgr[0];
            if (alpha) {
                out[3] = bgr[3];
            } else if (mask[x / 8] & (0x80 >> (x % 8))) {
                // Transparent only where the colour is black: any other colour under the
                // mask inverts the screen, which no PNG can.
                if (bgr[0] | bgr[1] | bgr[2])
                    return false;
                out[3] = 0;
            } else {
                out[3] = 255;
            }
        }
    }
    return true;
}

std::vector<u8> EncodePng(const std::vector<u8>& rgba, u32 width, u32 height)
{
    PngParts parts;
    parts.width = width;
    parts.height = height;
    parts.depth = 8;
    parts.colourType = PNG_COLOR_TYPE_RGBA;
    for (u32 y = 0; y < height; y++)
        parts.rows.emplace_back(rgba.begin() + (size_t)y * width * 4, rgba.begin() + (size_t)(y + 1) * width * 4);
    return SmallestPng(parts);
}

bool DecodePng(const std::vector<u8>& png, std::vector<u8>& rgba, u32& width, u32& height)
{
    PngParts parts;
    if (!ReadPng(png, true, parts))
        return false;
    width = parts.width;
    height = parts.height;
    rgba.clear();
    for (const auto& row : parts.rows)
        rgba.insert(rgba.end(), row.begin(), row.end());
    return true;
}

IconImage SmallestForm(const IconImage& image, bool xp)
{
    IconImage form = image;
    bool small = image.width < 256 && image.height < 256;
    std::vector<u8> rgba;
    u32 width = 0, height = 0;
    if (!image.png) {
        if (xp && small)
            return form;
        if (!BitmapPixels(image.data, rgba, width, height) || width != image.width || height != image.height)
            return form;
        std::vector<u8> png = EncodePng(rgba, width, height);
        if (!png.empty() && png.size() < image.data.size()) {
            form.png = true;
            form.data.swap(png);
        }
        return form;
    }
    if (xp && small) {
        // Windows XP reads bitmaps only: the same pixels as a 32-bit one.
        if (DecodePng(image.data, rgba, width, height) && width == image.width && height == image.height) {
            form.png = false;
            form.data = BitmapOf(rgba, width, height);
            u8 entry[8] = {image.entry[0], image.entry[1], 0, 0, 1, 0, 32, 0};
            memcpy(form.entry, entry, 8);
        }
        return form;
    }
    PngParts parts;
    if (!ReadPng(image.data, false, parts))
        return form;
    std::vector<u8> again = SmallestPng(parts), before, after;
    if (again.empty() || again.size() >= image.data.size())
        return form;
    u32 w2, h2;
    if (DecodePng(image.data, before, width, height) && DecodePng(again, after, w2, h2) && before == after) {
        form.data.swap(again);
    }
    return form;
}

std::string Thousands(u64 value)
{
    std::string digits = std::to_string(value), out;
    for (size_t i = 0; i < digits.size(); i++) {
        if (i && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}
