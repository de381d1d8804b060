// The images of an .ico file and the smallest faithful form of each: a bitmap as it is,
// or the same pixels as PNG (which Windows reads in icons since Vista, Wine too). PNG
// work goes through libpng. Inside pe/: resources.cpp places what this chooses.
#ifndef QUILL_TOOLS_PE_ICON_H
#define QUILL_TOOLS_PE_ICON_H

#include <string>
#include <vector>

#include "archive/format.h"

struct IconImage {
    u32 width = 0, height = 0;  // pixels; 256 where the directory says 0
    u8 entry[8] = {};           // the directory entry's width, height, colours, reserved, planes, bit count
    bool png = false;
    std::vector<u8> data;       // a bitmap (header, colours, AND mask) or a PNG file
    u32 Bits() const;           // the depth its data holds: biBitCount, or PNG's bits per pixel
};

// Whether data starts with PNG's signature (an icon image is a PNG file or a bitmap).
bool IsPng(const std::vector<u8>& data);

// The images of an .ico file in their order. Fails with EXIT_USAGE naming path for a file
// that is not an icon, EXIT_IO when it cannot be read.
std::vector<IconImage> ReadIconFile(const std::string& path);

// The image in its smallest faithful form: a bitmap is re-encoded as PNG when that is
// smaller and shows the same pixels, a PNG is recompressed when that is smaller. xp keeps
// the images below 256 pixels as bitmaps (a PNG becomes a 32-bit bitmap) for Windows XP.
IconImage SmallestForm(const IconImage& image, bool xp);

// The pixels Windows shows for a bitmap image as RGBA rows, top row first; false when a
// PNG cannot show them (pixels that invert the screen, a compression or depth not read
// here). A 32-bit image's alpha is its transparency; an image without alpha takes it from
// the AND mask.
bool BitmapPixels(const std::vector<u8>& bitmap, std::vector<u8>& rgba, u32& width, u32& height);
// RGBA rows as the smallest PNG of those libpng writes here (8-bit RGBA).
std::vector<u8> EncodePng(const std::vector<u8>& rgba, u32 width, u32 height);
// A PNG's pixels as 8-bit RGBA rows; false when libpng cannot read it.
bool DecodePng(const std::vector<u8>& png, std::vector<u8>& rgba, u32& width, u32& height);

// "39,205"
std::string Thousands(u64 value);

#endif
