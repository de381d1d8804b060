// quill pack: a folder and a project into an installer.
#ifndef QUILL_TOOLS_PACK_H
#define QUILL_TOOLS_PACK_H

#include <string>
#include <vector>

#include "pack/writer.h"
#include "output.h"
#include "pe/program.h"
#include "project.h"

struct PackOptions {
    std::string source;
    std::string output;
    std::string stub;          // "" : the installer the build made (or QUILL_STUB)
    std::string uninstaller;   // "" : the uninstaller the build made (or QUILL_UNINSTALLER)
    std::string wingetDir;     // --winget: the manifest set goes here; "" none
    OutputLayout layout;
    bool followSymlinks = false;
    bool verify = true;
    bool best = false;         // the cost-based parse: smaller, slower to pack
    bool quiet = false;
    PackSettings settings;
    SigningOptions signing;    // certificate "": unsigned
};

// Runs the pack; returns the exit code. Failures are thrown as Failure.
int Pack(const PackOptions& options);

class CodePage;
// The string block content in the code page, every text checked; fails with EXIT_USAGE
// naming where the offending setting came from.
StringBlockContent BuildContent(const PackSettings& settings, const CodePage& codePage);
// The code page a pack uses: the project's, else its language's.
int PackCodePage(const PackSettings& settings);
// The installer program: the file given, QUILL_STUB, or the one the build made. Fails
// with EXIT_USAGE when missing or larger than 0xE000 bytes.
std::vector<u8> LoadStub(const std::string& path);
// The uninstaller program, found the same way: the file given, QUILL_UNINSTALLER, one
// installed beside quill, or the build's. Fails with EXIT_USAGE naming --no-uninstall.
std::vector<u8> LoadUninstaller(const std::string& path);

#endif
