// The uninstall an archive asks for, as quill decides and checks it: the Apps & features
// key name (the id), the uninstaller's file name, the ids of its texts. The same rules
// serve pack (for settings, UTF-8) and test (for stored values: the rules look only at
// ASCII bytes, which every code page shares with UTF-8).
#ifndef QUILL_TOOLS_UNINSTALL_H
#define QUILL_TOOLS_UNINSTALL_H

#include <string>

enum {
    UNINSTALL_TEXT_FIRST = 200,  // the uninstaller's texts, stored as text.N
    UNINSTALL_TEXT_LAST = 206,
    MAX_KEY_NAME_BYTES = 255     // a registry key name's longest, in single-byte characters
};

// The texts of the additions quill writes as text.N: the uninstaller's, and 210 (a
// shortcut that cannot be created, archive/extension.h), each with one %s.
inline bool IsAdditionText(int id)
{
    return (id >= UNINSTALL_TEXT_FIRST && id <= UNINSTALL_TEXT_LAST) || id == 210;
}

#define DEFAULT_UNINSTALL_PROGRAM "uninstall.exe"
// The uninstaller program quill packs, as the build makes it and the package installs it.
#define UNINSTALLER_FILE_NAME "quillstead-uninstall.exe"

// The title without what a key name cannot hold (backslashes, control characters), blanks
// at either end trimmed. May be empty: CheckUninstallId says so.
std::string DefaultUninstallId(const std::string& title);
// "" when id can name a key under ...\Uninstall, else what is wrong with it. The length
// is checked on the stored form (MAX_KEY_NAME_BYTES).
std::string CheckUninstallId(const std::string& id);
// "" when name is a plain file name ending in .exe that Windows can create.
std::string CheckUninstallProgram(const std::string& name);
// A winget PackageIdentifier: "Publisher.Product", two to eight parts of at most 32
// characters, no blank or character a file name cannot hold, 128 at most. "" or what is wrong.
std::string CheckPackageId(const std::string& id);

#endif
