// The product's own face on the installer program: its icon and a version resource,
// written into the resource section of the copy that a pack writes.
#ifndef QUILL_TOOLS_PE_RESOURCES_H
#define QUILL_TOOLS_PE_RESOURCES_H

#include <string>
#include <vector>

#include "archive/format.h"

enum { PROGRAM_ICON_ID = 101 };  // the icon the installer's windows and dialogs show

struct ProgramLook {
    std::string icon;        // an .ico file: every image replaces icon 101; "" keeps ours
    bool hasVersion = false;
    u16 version[4] = {0, 0, 0, 0};
    // Version resource texts, UTF-8; empty ones are left out.
    std::string productName, company, description, copyright, originalName;
    u16 language = 0x0409;   // LANGID the version resource is filed under and names
};

// "1.2.3.4", "2.0", ...: one to four numbers up to 65535; false when it is none of these.
bool ParseVersion(const std::string& text, u16 version[4]);

// The program with its resource section rewritten. Fails with EXIT_USAGE for an icon
// that is no .ico, a program whose resources cannot be rewritten, or a result larger
// than 0xE000 bytes (naming by how much).
std::vector<u8> ApplyProgramLook(const std::vector<u8>& program, const ProgramLook& look);

#endif
