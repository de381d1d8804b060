// A winget manifest set (schema 1.10.0: the version, installer and defaultLocale files)
// for the installer a pack wrote, so that winget and the tools built on it install it
// silently and find it again in Apps & features by its uninstall id.
#ifndef QUILL_TOOLS_WINGET_H
#define QUILL_TOOLS_WINGET_H

#include <string>
#include <utility>
#include <vector>

#include "output.h"
#include "project.h"

struct WingetFacts {
    std::string packageId;        // Publisher.Product
    std::string version;          // PackageVersion, DisplayVersion
    std::string publisher;        // Publisher
    std::string name;             // PackageName, DisplayName: the title
    std::string license;
    std::string shortDescription;
    std::string installerUrl;
    std::string packageUrl;       // "" : none
    std::string productCode;      // the uninstall id
    bool userScope = false;       // privileges user: Scope user, else machine
    std::string sha256;           // of the installer file, 64 hex digits
};

// Before anything is packed: what a manifest set needs from the settings, each value
// checked against the schema's bounds; fails with EXIT_USAGE naming what is missing.
WingetFacts WingetFactsOf(const PackSettings& settings, const OutputLayout& layout);

// The three files, name and YAML text (UTF-8), in the order version, installer, locale.
std::vector<std::pair<std::string, std::string>> WingetManifests(const WingetFacts& facts);

// The files of a manifest set written beside each other under temporary names, given
// their names only by Commit; what is not committed is removed. Fails with EXIT_IO.
class ManifestFiles {
public:
    ManifestFiles(const std::string& directory, const std::vector<std::pair<std::string, std::string>>& files);
    ~ManifestFiles();
    ManifestFiles(const ManifestFiles&) = delete;
    ManifestFiles& operator=(const ManifestFiles&) = delete;
    void Commit();
    std::vector<std::string> Paths() const;

private:
    std::vector<std::pair<std::string, std::string>> written_;  // temporary, final
    bool committed_ = false;
};

#endif
