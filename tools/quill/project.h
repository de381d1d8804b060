// What a pack puts into the string block and the header, from the project file (INI,
// UTF-8, ";" comments) and from the command line, which overrides it.
//
//   [installer]                      [group]
//   title = Example Viewer           name = Example Viewer
//   window-title = Viewer Setup      item = Viewer | \viewer.exe
//   install-dir = Example\Viewer     item = Read me | \docs\readme.txt
//   post-install = \viewer.exe /r    [messages]
//   background = maximized           117 = The viewer is installed.
//   privileges = admin               kind = shortcuts (or dde)
//   language = german                [attributes]
//   codepage = 1252                  data/cache.bin = hidden system
//   icon = viewer.ico  (beside the project file), icon-xp = yes, icon-all = yes
//   version = 1.2.3.4, company = ..., description = ..., copyright = ...
//   compression = best
//
//   [uninstall]                      [winget]
//   enabled = yes                    package-id = Example.Viewer
//   id = ExampleViewer               license = Proprietary
//   program = uninstall.exe          installer-url = https://example.com/setup.exe
//   url = https://example.com
//   description = Viewer Uninstall
#ifndef QUILL_TOOLS_PROJECT_H
#define QUILL_TOOLS_PROJECT_H

#include <map>
#include <string>
#include <vector>

#include "archive/format.h"

// A value and where it came from ("product.ini:4" or "--title"), for error messages.
struct Setting {
    std::string value;
    std::string origin;
    bool given() const { return !origin.empty(); }
};

struct GroupItem {
    std::string title;  // UTF-8
    std::string path;   // UTF-8; a leading backslash: relative to the install directory
    std::string origin;
};

struct AttributeRule {
    std::string path;    // relative to the source folder, "/" separated
    u32 attributes;      // ATTRIBUTE_HIDDEN, ATTRIBUTE_SYSTEM, ATTRIBUTE_READONLY
    std::string origin;
};

struct PackSettings {
    Setting title;        // entry 1
    Setting windowTitle;  // entry 2; defaults to the title
    Setting installDir;   // entry 3
    Setting postInstall;  // entry 4; empty: none
    Setting groupName;    // entry 5
    std::vector<GroupItem> groupItems;
    bool groupItemsFromOptions = false;  // options replace the file's items, not add to them
    bool backgroundMaximized = false;  // the dialogs alone unless the project says maximized
    Setting groupKind;    // "shortcuts" (also when not given) or "dde"
    Setting privileges;   // "user" or "admin"; not given: admin
    bool bestCompression = false;  // compression = best: the cost-based parse
    std::string language = "english";
    int codePage = 0;     // 0: the language's own
    std::string codePageOrigin;
    std::map<int, Setting> messages;  // replaced messages by id
    std::vector<AttributeRule> attributes;
    std::string projectFile;  // "" when none was given
    // The installer program's icon (.ico path) and version resource.
    Setting icon, version, company, description, copyright;
    // [uninstall]: enabled unless "no"; the id defaults to one made from the title, the
    // program to uninstall.exe. Messages 200 and up are the uninstaller's texts.
    Setting uninstallEnabled, uninstallId, uninstallProgram, uninstallUrl;
    Setting uninstallDescription;  // its version resource's; default "<title> Uninstall"
    // [winget]: what a manifest set needs beyond the product's settings.
    Setting packageId, license, installerUrl;
    bool UninstallEnabled() const { return uninstallEnabled.value != "no"; }
    bool Shortcuts() const { return groupKind.value != "dde"; }
    Setting iconXp, iconAll;  // "yes" or "no": small images as bitmaps; every image or none
};

// Reads a project file into settings. Fails with EXIT_USAGE naming file and line for an
// unknown section or key, a repeated key, a bad or missing value; EXIT_IO if unreadable.
void ReadProjectFile(const std::string& path, PackSettings& settings);
// Applies one setting: section and key as in the file. Fails with EXIT_USAGE, naming
// origin, when the key is unknown or the value bad. Used by the file and the options.
void ApplySetting(PackSettings& settings, const std::string& section, const std::string& key,
                  const std::string& value, const std::string& origin);
// After file and options: the required values are present. Fails with EXIT_USAGE.
void CheckRequiredSettings(PackSettings& settings);

#endif
