// The product's own face on the installer program: its icon and a version resource,
// written into the resource section of the copy that a pack writes.
#ifndef QUILL_TOOLS_PE_RESOURCES_H
#define QUILL_TOOLS_PE_RESOURCES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "archive/format.h"

enum { PROGRAM_ICON_ID = 101 };  // the icon the installer's windows and dialogs show

struct ProgramLook {
    std::string icon;        // an .ico file: its images replace icon 101; "" keeps ours
    bool iconXp = false;     // images below 256 pixels stay bitmaps, for Windows XP
    bool iconAll = false;    // every image or a failure, none left out
    // A program packed as an ordinary file (the uninstaller): no archive follows it, so it
    // keeps every image, and nothing is left out or warned of.
    bool unbounded = false;
    bool hasVersion = false;
    u16 version[4] = {0, 0, 0, 0};
    // Version resource texts, UTF-8; empty ones are left out.
    std::string productName, company, description, copyright, originalName;
    u16 language = 0x0409;   // LANGID the version resource is filed under and names
};

// "1.2.3.4", "2.0", ...: one to four numbers up to 65535; false when it is none of these.
bool ParseVersion(const std::string& text, u16 version[4]);

// The program with its resource section rewritten, each icon image in its smallest
// faithful form (icon.h). Images that still do not fit in front of the archive are left
// out, the largest first, each with a warning. Fails with EXIT_USAGE for an icon that is
// no .ico, a program whose resources cannot be rewritten, an icon of which not one image
// fits (or not all, with iconAll), or a version resource alone too large.
std::vector<u8> ApplyProgramLook(const std::vector<u8>& program, const ProgramLook& look);

// The reading side, for list: the images of icon 101 of an installer program and the
// bytes its resources may still grow by before the program reaches 0xE000.
struct ProgramIconImage {
    u32 width = 0, height = 0, bits = 0, bytes = 0;
    bool png = false;
};
struct ProgramResources {
    bool read = false;       // a PE program whose resources could be read
    std::vector<ProgramIconImage> icon;
    int64_t freeBytes = 0;   // negative: the program is larger than 0xE000
};
// From the file at path (an installer; a disk1.pak gives read = false). Never fails.
ProgramResources ReadProgramResources(const std::string& path);

#endif
