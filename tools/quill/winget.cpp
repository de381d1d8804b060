#include "winget.h"

#include <fcntl.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "codepage.h"
#include "files.h"
#include "quill.h"
#include "uninstall.h"

namespace {

const char* MANIFEST_VERSION = "1.10.0";

// A YAML scalar in single quotes: only the quote itself is doubled. Values hold no line
// break (the settings refuse control characters).
std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

size_t Characters(const std::string& text)
{
    std::u32string chars;
    return DecodeUtf8(text, chars) ? chars.size() : text.size();
}

bool IsWebAddress(const std::string& url)
{
    size_t colon = url.find("://");
    if (colon == std::string::npos || colon + 3 >= url.size() || url.size() > 2048)
        return false;
    std::string scheme = url.substr(0, colon);
    for (char& c : scheme)
        c = (char)tolower((unsigned char)c);
    return scheme == "http" || scheme == "https";
}

std::string Header(const char* type)
{
    return std::string("# Created by quill pack --winget\n# yaml-language-server: $schema=https://aka.ms/winget-manifest.") +
           type + "." + MANIFEST_VERSION + ".schema.json\n\n";
}

}  // namespace

WingetFacts WingetFactsOf(const PackSettings& settings, const OutputLayout& layout)
{
    auto refuse = [](const std::string& what) { Fail(EXIT_USAGE, "--winget: " + what); };
    if (layout.kind != OutputLayout::SINGLE)
        refuse("a volume set has no single installer file for winget to download; pack one installer "
               "(without --volume-size and --split-at)");
    if (!settings.UninstallEnabled())
        refuse("the manifest's ProductCode is the uninstall id, and the uninstall is off (" +
               settings.uninstallEnabled.origin + ")");
    WingetFacts facts;
    if (!settings.packageId.given())
        refuse("no package identifier (--package-id Publisher.Product, [winget] package-id)");
    facts.packageId = settings.packageId.value;
    if (!settings.version.given())
        refuse("no version for PackageVersion ([installer] version, --version)");
    facts.version = settings.version.value;
    if (!settings.company.given() || Characters(settings.company.value) < 2)
        refuse("no publisher of at least 2 characters for Publisher ([installer] company, --company)");
    facts.publisher = settings.company.value;
    facts.name = settings.title.value;
    if (Characters(facts.name) < 2)
        refuse("the title \"" + facts.name + "\" is shorter than the 2 characters PackageName needs");
    if (!settings.license.given() || Characters(settings.license.value) < 3)
        refuse("the schema requires a License of at least 3 characters ([winget] license, --license), "
               "e.g. Proprietary or MIT");
    facts.license = settings.license.value;
    facts.shortDescription = settings.description.given() ? settings.description.value : settings.title.value;
    if (Characters(facts.shortDescription) < 3)
        refuse("ShortDescription (the description, else the title) needs at least 3 characters "
               "([installer] description, --description)");
    if (!settings.installerUrl.given())
        refuse("the schema requires the address winget downloads the installer from "
               "(--installer-url URL, [winget] installer-url)");
    if (!IsWebAddress(settings.installerUrl.value))
        refuse(settings.installerUrl.origin + ": installer-url \"" + settings.installerUrl.value +
               "\" is not an http:// or https:// address");
    facts.installerUrl = settings.installerUrl.value;
    if (settings.uninstallUrl.given() && IsWebAddress(settings.uninstallUrl.value))
        facts.packageUrl = settings.uninstallUrl.value;
    facts.productCode = settings.uninstallId.value;
    facts.userScope = settings.privileges.value == "user";
    for (const std::string* text : {&facts.publisher, &facts.name, &facts.shortDescription})
        if (Characters(*text) > 256)
            refuse("\"" + *text + "\" is longer than the 256 characters the schema allows");
    return facts;
}

std::vector<std::pair<std::string, std::string>> WingetManifests(const WingetFacts& facts)
{
    std::string id = facts.packageId, version = Quoted(facts.version);
    std::string identity = "PackageIdentifier: " + Quoted(id) + "\nPackageVersion: " + version + "\n";
    std::string tail = "ManifestVersion: " + std::string(MANIFEST_VERSION) + "\n";

    std::string versionFile = Header("version") + identity + "DefaultLocale: en-US\nManifestType: version\n" + tail;

    std::string installer = Header("installer") + identity +
        "InstallerType: exe\n"
        "Scope: " + (facts.userScope ? "user" : "machine") + "\n"
        "InstallModes:\n- interactive\n- silent\n- silentWithProgress\n"
        "InstallerSwitches:\n"
        "  Silent: /S\n"
        "  SilentWithProgress: /S\n"
        "  InstallLocation: '/D=<INSTALLPATH>'\n"
        "  Log: '/LOG=<LOGPATH>'\n"
        // The installer's exit codes, those of the Windows Installer.
        "ExpectedReturnCodes:\n"
        "- InstallerReturnCode: 1602\n  ReturnResponse: cancelledByUser\n"
        "- InstallerReturnCode: 1603\n  ReturnResponse: contactSupport\n"
        "- InstallerReturnCode: 1618\n  ReturnResponse: installInProgress\n"
        "- InstallerReturnCode: 112\n  ReturnResponse: diskFull\n"
        "- InstallerReturnCode: 1639\n  ReturnResponse: invalidParameter\n"
        "UpgradeBehavior: install\n"
        "ProductCode: " + Quoted(facts.productCode) + "\n"
        "AppsAndFeaturesEntries:\n"
        "- DisplayName: " + Quoted(facts.name) + "\n"
        "  Publisher: " + Quoted(facts.publisher) + "\n"
        "  DisplayVersion: " + version + "\n"
        "  ProductCode: " + Quoted(facts.productCode) + "\n"
        "Installers:\n"
        "- Architecture: x86\n"
        "  InstallerUrl: " + Quoted(facts.installerUrl) + "\n"
        "  InstallerSha256: " + facts.sha256 + "\n"
        "ManifestType: installer\n" + tail;

    std::string locale = Header("defaultLocale") + identity +
        "PackageLocale: en-US\n"
        "Publisher: " + Quoted(facts.publisher) + "\n"
        "PackageName: " + Quoted(facts.name) + "\n" +
        (facts.packageUrl.empty() ? "" : "PackageUrl: " + Quoted(facts.packageUrl) + "\n") +
        "License: " + Quoted(facts.license) + "\n"
        "ShortDescription: " + Quoted(facts.shortDescription) + "\n"
        "ManifestType: defaultLocale\n" + tail;

    return {{id + ".yaml", versionFile}, {id + ".installer.yaml", installer}, {id + ".locale.en-US.yaml", locale}};
}

ManifestFiles::ManifestFiles(const std::string& directory,
                             const std::vector<std::pair<std::string, std::string>>& files)
{
    MakeDirectories(directory);
    for (const auto& file : files) {
        std::string finalPath = directory + "/" + file.first;
        std::string pattern = directory + "/." + file.first + ".quill-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back(0);
        int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            FailErrno("cannot create a file in " + directory);
        written_.push_back({name.data(), finalPath});
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        bool done = WriteAll(fd, file.second.data(), file.second.size()) && fsync(fd) == 0;
        if (close(fd) != 0)
            done = false;
        if (!done)
            FailErrno("cannot write " + finalPath);
    }
}

ManifestFiles::~ManifestFiles()
{
    if (!committed_)
        for (const auto& file : written_)
            unlink(file.first.c_str());
}

void ManifestFiles::Commit()
{
    for (const auto& file : written_)
        if (rename(file.first.c_str(), file.second.c_str()) != 0)
            FailErrno("cannot write " + file.second);
    committed_ = true;
}

std::vector<std::string> ManifestFiles::Paths() const
{
    std::vector<std::string> paths;
    for (const auto& file : written_)
        paths.push_back(file.second);
    return paths;
}
