#include "pack.h"

#include "pe/program.h"

#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <chrono>
#include <map>
#include <memory>

#include "archive/extension.h"
#include "archive/messages.h"
#include "extract/install_log.h"
#include "codepage.h"
#include "files.h"
#include "message_sets.h"
#include "progress.h"
#include "quill.h"
#include "reader.h"
#include "source_tree.h"
#include "sha256.h"
#include "uninstall.h"
#include "winget.h"

namespace {

// What a record must read back as, for the verification.
struct Expected {
    TreeEntry::Kind kind;
    std::string stored;
    std::string path;
    u32 size = 0;
    u32 attributes = 0;
    u64 fileTime = 0;
    uint64_t hash = 0;
};

std::string Encode(const CodePage& codePage, const std::string& text, const std::string& what,
                   const std::string& origin, size_t limit)
{
    std::string stored, bad;
    if (!codePage.Encode(text, stored, bad))
        Fail(EXIT_USAGE, origin + ": " + what + ": " + bad + " has no place in code page " +
                             std::to_string(codePage.Number()));
    if (stored.size() > limit)
        Fail(EXIT_USAGE, origin + ": " + what + " takes " + std::to_string(stored.size()) +
                             " bytes; at most " + std::to_string(limit) + " fit");
    return stored;
}

// A file's bytes, read in pieces as the encoder asks for them and hashed on the way, so
// that a pack holds no file whole; the size must still be what the walk saw.
class StreamedFile {
public:
    explicit StreamedFile(const TreeEntry& entry) : path_(entry.source), size_(entry.size)
    {
        fd_ = open(entry.source.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            FailErrno("cannot read " + entry.source);
        struct stat info;
        if (fstat(fd_, &info) != 0)
            FailErrno("cannot read " + entry.source);
        if ((u64)info.st_size != entry.size)
            Fail(EXIT_IO, entry.source + " changed while it was packed");
        posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    ~StreamedFile() { close(fd_); }
    StreamedFile(const StreamedFile&) = delete;
    StreamedFile& operator=(const StreamedFile&) = delete;

    // For the encoder: up to max bytes; fails when the file ends before its size.
    size_t Read(u8* to, size_t max)
    {
        for (;;) {
            ssize_t n = read(fd_, to, max);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                FailErrno("cannot read " + path_);
            if (n == 0)
                Fail(EXIT_IO, path_ + " changed while it was packed");
            hash_.Add(to, (size_t)n);
            done_ += (u64)n;
            return (size_t)n;
        }
    }
    // After the encoder has taken the size: a file that has grown since the walk (a log
    // still written, a file whose size the system does not know) would be packed cut.
    void CheckEnd()
    {
        u8 extra;
        ssize_t n;
        do
            n = read(fd_, &extra, 1);
        while (n < 0 && errno == EINTR);
        if (n < 0)
            FailErrno("cannot read " + path_);
        if (n > 0 || done_ != size_)
            Fail(EXIT_IO, path_ + " changed while it was packed");
    }
    u64 Size() const { return size_; }
    uint64_t Hash() const { return hash_.Value(); }

private:
    std::string path_;
    u64 size_;
    int fd_ = -1;
    u64 done_ = 0;
    ContentHash hash_;
};

// hash: of the bytes the worker decoded for the record.
std::string CompareRecord(const Expected& expected, const ArchiveRecord& record, uint64_t hash)
{
    static const char* kinds[] = {"folder", "up record", "file"};
    int kind = record.kind == ArchiveRecord::DIRECTORY ? 0 : record.kind == ArchiveRecord::UP ? 1 : 2;
    int expectedKind = expected.kind == TreeEntry::DIRECTORY ? 0 : expected.kind == TreeEntry::UP ? 1 : 2;
    std::string what = "verify: \"" + Printable(expected.path) + "\": ";
    if (kind != expectedKind)
        return what + "a " + kinds[expectedKind] + " was packed, a " + kinds[kind] + " reads back";
    if (record.kind == ArchiveRecord::UP)
        return "";
    if (record.name != expected.stored)
        return what + "the name reads back as \"" + Printable(record.name) + "\"";
    if (record.kind == ArchiveRecord::DIRECTORY)
        return "";
    if (record.size != expected.size)
        return what + std::to_string(expected.size) + " bytes were packed, " +
               std::to_string(record.size) + " read back";
    if (record.attributes != expected.attributes)
        return what + "the attributes read back as " + std::to_string(record.attributes);
    if (record.fileTime != expected.fileTime)
        return what + "the time reads back as " + FormatFileTime(record.fileTime);
    if (hash != expected.hash)
        return what + "the decoded bytes differ from the packed ones";
    return "";
}

void VerifyStrings(const ArchiveReader& reader, const StringBlockContent& content, const ArchiveHeader& header)
{
    auto differs = [](const std::string& what) {
        Fail(EXIT_DAMAGED, "verify: " + what + " reads back differently");
    };
    const ArchiveHeader& read = reader.Header();
    if (memcmp(&read, &header, sizeof(header)) != 0)
        differs("the archive header");
    if (!reader.StringBlockSound())
        differs("the string block");
    const std::string* fixed[] = {&content.productTitle, &content.windowTitle, &content.installDir,
                                  &content.postInstall};
    for (u32 n = 1; n <= 4; n++)
        if (reader.Entry(n) != *fixed[n - 1])
            differs("string block entry " + std::to_string(n));
    if (!content.groupItems.empty() && reader.Entry(5) != content.groupName)
        differs("the group name");
    for (u32 i = 1; i <= content.groupItems.size(); i++)
        if (reader.GroupItemTitle(i) != content.groupItems[i - 1].first ||
            reader.GroupItemPath(i) != content.groupItems[i - 1].second)
            differs("group item " + std::to_string(i));
    for (u32 i = 0; i < MESSAGE_COUNT; i++)
        if (reader.Message(MessageIdAt(i)) != content.messages[i])
            differs("message " + std::to_string(MessageIdAt(i)));
    std::vector<std::string> entries = reader.ExtensionEntries();
    if (entries.size() != content.extension.size() || reader.HasExtension() != !content.extension.empty())
        differs("the string block's extension");
    for (size_t i = 0; i < entries.size(); i++)
        if (entries[i] != content.extension[i].first + "=" + content.extension[i].second)
            differs("extension entry " + content.extension[i].first);
}

void Verify(const OutputSet& output, const StringBlockContent& content, const ArchiveHeader& header,
            const std::vector<Expected>& expected, u64 totalSize, u32 files, bool quiet)
{
    std::vector<VolumeFile> volumes;
    bool embedded = output.Files()[0].volume == 1;
    for (const OutputFile& file : output.Files())
        if (file.volume)
            volumes.push_back({file.tempPath, file.size});
    ArchiveReader reader(volumes, embedded);
    reader.Open();
    VerifyStrings(reader, content, header);

    Progress progress(!quiet, "verify", totalSize, files);
    size_t next = 0;
    bool compared = false;  // a record read back whole and differed
    // The decoded bytes are hashed as the worker writes them; nothing goes to disk.
    WalkSettings settings;
    ContentHash decoded;
    settings.onOutput = [&decoded](const u8* data, u32 size) { decoded.Add(data, size); };
    settings.onRecord = [&](const ArchiveRecord& record) -> std::string {
        if (next >= expected.size())
            return "verify: a record more than was packed";
        uint64_t hash = decoded.Value();
        decoded = ContentHash();
        std::string problem = CompareRecord(expected[next++], record, hash);
        if (record.kind == ArchiveRecord::FILE)
            progress.Advance(record.size, 1);
        compared = !problem.empty();
        return problem;
    };
    WalkResult result = reader.Walk(settings);
    progress.Done();
    if (result.code == EXIT_INTERRUPTED)
        Fail(EXIT_INTERRUPTED, "interrupted");
    // A walk that stops inside a file's payload fails in whatever way the wrong bytes lead
    // it to (a volume "missing", a total passed): name the file whose bytes differ first.
    if (result.code == EXIT_DAMAGED && !compared && next < expected.size() &&
        expected[next].kind == TreeEntry::FILE)
        Fail(EXIT_DAMAGED, "verify: \"" + Printable(expected[next].path) + "\" (" +
                               std::to_string(expected[next].size) +
                               " bytes) does not decode back to the bytes packed: " + result.message);
    if (result.code != EXIT_SOUND)
        Fail(result.code == EXIT_IO ? EXIT_IO : EXIT_DAMAGED, "verify: " + result.message);
    if (next != expected.size())
        Fail(EXIT_DAMAGED, "verify: the archive ends after " + std::to_string(next) + " of " +
                               std::to_string(expected.size()) + " records");
    for (const std::string& warning : result.warnings)
        Fail(EXIT_DAMAGED, "verify: " + warning);
}

std::string DescribeLayout(const OutputSet& output)
{
    std::string text;
    for (const OutputFile& file : output.Files()) {
        struct stat info;  // signing has grown the program
        u64 size = stat(file.finalPath.c_str(), &info) == 0 ? (u64)info.st_size : file.size;
        text += "  " + file.finalPath + "  " + std::to_string(size) + " bytes\n";
    }
    return text;
}

// A program quill packs with (file, built in the Windows build's folder): beside quill, in
// an installed ../share/quill, or in a build tree's Windows build beside the native one.
std::string FindBuiltProgram(const std::string& file, const std::string& folder)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return "";
    self[n] = 0;
    std::string dir = DirectoryOf(self);
    std::vector<std::string> candidates = {dir + "/" + file, dir + "/../share/quill/" + file};
    std::string up = dir;
    for (int level = 0; level < 4; level++) {
        for (const char* build : {"/build-i686/", "/build-win*/", "/installer-i686/"}) {
            glob_t found;
            std::string pattern = up + build + folder + "/" + file;
            if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
                for (size_t i = 0; i < found.gl_pathc; i++)
                    candidates.push_back(found.gl_pathv[i]);
            }
            globfree(&found);
        }
        up += "/..";
    }
    for (const std::string& candidate : candidates) {
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            return candidate;
    }
    return "";
}

// what: "installer program" or "uninstaller program"; how: where the path came from.
std::vector<u8> ReadProgram(const std::string& path, const std::string& what, const std::string& how)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail(EXIT_USAGE, what + " " + path + " (" + how + "): " + strerror(errno));
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        Fail(EXIT_USAGE, what + " " + path + " (" + how + ") is not a file");
    }
    // The uninstaller is rebranded as the installer is, within the same bound.
    if ((u64)info.st_size > ARCHIVE_OFFSET) {
        close(fd);
        Fail(EXIT_USAGE, what + " " + path + " (" + how + ") has " + std::to_string(info.st_size) +
                             " bytes; at most 57344 (0xE000) fit before the archive");
    }
    std::vector<u8> program((size_t)info.st_size);
    ssize_t got = program.empty() ? 0 : read(fd, program.data(), program.size());
    close(fd);
    if (got != (ssize_t)program.size())
        Fail(EXIT_IO, "cannot read " + what + " " + path);
    return program;
}

// The execution level of the copy of the program: admin unless the settings say user. A
// program without a manifest level keeps what it has unless a level was asked for.
// Returns whether the level was set.
bool SetPrivileges(const PackSettings& settings, std::vector<u8>& stub)
{
    bool user = settings.privileges.value == "user";
    bool set = SetExecutionLevel(stub, user ? LEVEL_USER : LEVEL_ADMIN);
    if (!set && settings.privileges.given())
        Fail(EXIT_USAGE, settings.privileges.origin + ": privileges " + settings.privileges.value +
                             ": the installer program has no manifest level to set");
    if (user && UnderProgramFiles(settings.installDir.value))
        Warn(settings.privileges.origin + ": privileges user with the default directory " +
             settings.installDir.value + " under Program Files: without elevation the installer "
             "cannot create it, unless the user chooses another directory");
    return set;
}

// The icon and version resource the settings ask for.
ProgramLook LookOf(const PackSettings& settings, const std::string& output)
{
    ProgramLook look;
    look.icon = settings.icon.value;
    look.iconXp = settings.iconXp.value == "yes";
    look.iconAll = settings.iconAll.value == "yes";
    for (const Setting* text : {&settings.company, &settings.description, &settings.copyright})
        if (text->given() && !settings.version.given())
            Fail(EXIT_USAGE, text->origin + ": company, description and copyright go into the version "
                                            "resource, which needs a version ([installer] version, --version)");
    if (settings.version.given()) {
        look.hasVersion = ParseVersion(settings.version.value, look.version);
        look.productName = settings.title.value;
        look.company = settings.company.value;
        look.description = settings.description.given() ? settings.description.value : settings.title.value + " Setup";
        look.copyright = settings.copyright.value;
        look.originalName = BaseName(output);
        static const struct {
            const char* language;
            u16 id;
        } LANGUAGE_IDS[] = {{"english", 0x0409}, {"german", 0x0407}, {"french", 0x040C}, {"russian", 0x0419}};
        for (const auto& known : LANGUAGE_IDS)
            if (settings.language == known.language)
                look.language = known.id;
    }
    return look;
}

// A path as Windows compares it: backslashes, ASCII case folded.
std::string WindowsFolded(std::string path)
{
    for (char& c : path)
        c = c == '/' ? '\\' : (char)tolower((unsigned char)c);
    return path;
}

// A group item inside the install directory whose target the tree does not hold would
// make a shortcut to nothing: the target found as the installer finds it (the whole text,
// else the longest part up to a blank that names a file).
void WarnMissingGroupTargets(const PackSettings& settings, const SourceTree& tree)
{
    std::map<std::string, bool> paths;  // "\docs\readme.txt" -> is a file
    for (const TreeEntry& entry : tree.entries)
        if (entry.kind != TreeEntry::UP)
            paths[WindowsFolded("\\" + entry.path)] = entry.kind == TreeEntry::FILE;
    if (settings.UninstallEnabled())
        paths[WindowsFolded("\\" + settings.uninstallProgram.value)] = true;
    for (const GroupItem& item : settings.groupItems) {
        const std::string& text = item.path;
        if (text[0] != '\\')
            continue;
        bool found = paths.count(WindowsFolded(text)) != 0;
        for (size_t blank = text.rfind(' '); !found && blank != std::string::npos && blank > 0;
             blank = text.rfind(' ', blank - 1)) {
            auto part = paths.find(WindowsFolded(text.substr(0, blank)));
            found = part != paths.end() && part->second;
        }
        if (!found)
            Warn(item.origin + ": the group item \"" + item.title + "\" names " + text +
                 ", which the source tree does not hold: its shortcut would lead nowhere");
    }
}

// The uninstaller as it goes into the archive: the product's icon and version resource,
// the installer's execution level (it needs administrator rights exactly when the
// install had them), its checksum and, with signing, its signature.
std::vector<u8> PrepareUninstaller(const PackOptions& options, const PackSettings& settings, bool installerLevelSet)
{
    ProgramLook look = LookOf(settings, settings.uninstallProgram.value);
    look.unbounded = true;
    if (look.hasVersion)
        look.description = settings.uninstallDescription.given() ? settings.uninstallDescription.value
                                                                 : settings.title.value + " Uninstall";
    std::vector<u8> program = ApplyProgramLook(LoadUninstaller(options.uninstaller), look);
    bool user = settings.privileges.value == "user";
    if (!SetExecutionLevel(program, user ? LEVEL_USER : LEVEL_ADMIN) &&
        (installerLevelSet || settings.privileges.given()))
        Fail(EXIT_USAGE, std::string("the uninstaller program has no manifest level to set, so it would not ask "
                                     "for the installer's rights (") + (user ? LEVEL_USER : LEVEL_ADMIN) + ")");
    ScratchDir scratch;
    std::string path = scratch.Path() + "/" + settings.uninstallProgram.value;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || !WriteAll(fd, program.data(), program.size()) || close(fd) != 0)
        FailErrno("cannot write " + path);
    WritePeChecksum(path);
    if (!options.signing.certificate.empty()) {
        SigningOptions sign = options.signing;
        sign.description = settings.title.value;
        SignProgram(path, sign);
    }
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0)
        FailErrno("cannot read " + path);
    program.resize((size_t)info.st_size);
    ssize_t got = program.empty() ? 0 : read(fd, program.data(), program.size());
    close(fd);
    if (got != (ssize_t)program.size())
        Fail(EXIT_IO, "cannot read " + path);
    return program;
}

// The uninstaller and its log take their names at the install directory's top; a file of
// the tree there would be overwritten by one and removed with the other.
void RefuseUninstallerClash(const SourceTree& tree, const PackSettings& settings, const std::string& source)
{
    char log[TEXT_SIZE];
    InstallLogName(settings.uninstallProgram.value.c_str(), log);
    std::string program = FoldCase(settings.uninstallProgram.value), logName = FoldCase(log);
    for (const TreeEntry& entry : tree.entries) {
        if (entry.kind == TreeEntry::UP || entry.path.find('/') != std::string::npos)
            continue;
        std::string name = FoldCase(entry.path);
        if (name == program || name == logName)
            Fail(EXIT_USAGE, source + "/" + entry.path + ": \"" + entry.path + "\" at the install directory's top takes the name of the " +
                                 (name == program ? "uninstaller " + settings.uninstallProgram.value
                                                  : "uninstaller's install log " + std::string(log)) +
                                 "; rename it, or name the uninstaller otherwise ([uninstall] program, "
                                 "--uninstall-program)");
    }
}

}  // namespace

int PackCodePage(const PackSettings& settings)
{
    if (settings.codePage)
        return settings.codePage;
    return FindLanguage(settings.language)->codePage;
}

StringBlockContent BuildContent(const PackSettings& settings, const CodePage& codePage)
{
    StringBlockContent content;
    content.productTitle = Encode(codePage, settings.title.value, "title", settings.title.origin, MAX_NAME_LENGTH);
    content.windowTitle = Encode(codePage, settings.windowTitle.value, "window-title",
                                 settings.windowTitle.origin, MAX_NAME_LENGTH);
    content.installDir = Encode(codePage, settings.installDir.value, "install-dir",
                                settings.installDir.origin, MAX_NAME_LENGTH);
    content.postInstall = Encode(codePage, settings.postInstall.value, "post-install",
                                 settings.postInstall.origin, MAX_NAME_LENGTH);
    if (!settings.groupItems.empty())
        content.groupName = Encode(codePage, settings.groupName.value, "group name",
                                   settings.groupName.origin, MAX_NAME_LENGTH);
    if (settings.groupItems.size() > 0xFFFF)
        Fail(EXIT_USAGE, "more than 65535 group items");
    for (const GroupItem& item : settings.groupItems)
        content.groupItems.push_back({Encode(codePage, item.title, "item title", item.origin, MAX_NAME_LENGTH),
                                      Encode(codePage, item.path, "item path", item.origin, MAX_NAME_LENGTH)});

    MessageList texts = MessageSetUtf8(settings.language);
    for (u32 i = 0; i < MESSAGE_COUNT; i++) {
        int id = MessageIdAt(i);
        std::string origin = "message " + std::to_string(id) + " of the " + settings.language + " set";
        auto replaced = settings.messages.find(id);
        if (replaced != settings.messages.end()) {
            texts[i] = replaced->second.value;
            origin = replaced->second.origin + ": message " + std::to_string(id);
        }
        std::string wrong = CheckMessagePlaceholders(id, texts[i]);
        if (!wrong.empty())
            Fail(EXIT_USAGE, origin + ": " + wrong);
        std::string stored, bad;
        if (!codePage.Encode(texts[i], stored, bad))
            Fail(EXIT_USAGE, origin + ": " + bad + " has no place in code page " +
                                 std::to_string(codePage.Number()));
        wrong = CheckStoredMessage(id, stored);
        if (!wrong.empty())
            Fail(EXIT_USAGE, origin + ": " + wrong);
        content.messages[i] = stored;
    }

    // A text of the additions (text.N), from the language's set or [messages], checked.
    auto additionText = [&](int id, std::string text) {
        std::string origin = "message " + std::to_string(id) + " of the " + settings.language + " set";
        auto replaced = settings.messages.find(id);
        if (replaced != settings.messages.end()) {
            text = replaced->second.value;
            origin = replaced->second.origin + ": message " + std::to_string(id);
        }
        std::string wrong = CheckMessagePlaceholders(id, text);
        // The install log keeps each text on one line.
        if (wrong.empty() && text.find_first_of("\r\n") != std::string::npos)
            wrong = "a line break, which the install log cannot keep";
        if (!wrong.empty())
            Fail(EXIT_USAGE, origin + ": " + wrong);
        std::string stored, bad;
        if (!codePage.Encode(text, stored, bad))
            Fail(EXIT_USAGE, origin + ": " + bad + " has no place in code page " + std::to_string(codePage.Number()));
        wrong = CheckStoredMessage(id, stored);
        if (!wrong.empty())
            Fail(EXIT_USAGE, origin + ": " + wrong);
        content.extension.push_back({KEY_TEXT_PREFIX + std::to_string(id), stored});
    };

    // The extension: the code page always, so that a reader needs no --codepage; how the
    // group is made; the uninstall's keys and texts when it is asked for.
    content.extension.push_back({KEY_CODEPAGE, std::to_string(codePage.Number())});
    bool group = !settings.groupItems.empty(), shortcuts = group && settings.Shortcuts();
    if (group)
        content.extension.push_back({KEY_GROUP_KIND, shortcuts ? "shortcuts" : "dde"});
    // A per-user installer registers for its user, whoever runs it, and puts its
    // shortcuts into that user's Start menu: an administrator's start of it still
    // installs for that one user.
    if (settings.privileges.value == "user" && (shortcuts || settings.UninstallEnabled()))
        content.extension.push_back({KEY_UNINSTALL_SCOPE, "user"});
    if (shortcuts)
        additionText(TEXT_CANT_CREATE_SHORTCUT, ShortcutTextUtf8(settings.language));
    if (!settings.UninstallEnabled())
        return content;
    content.extension.push_back({KEY_UNINSTALL_ID, Encode(codePage, settings.uninstallId.value, "uninstall id",
                                                          settings.uninstallId.origin, MAX_KEY_NAME_BYTES)});
    content.extension.push_back({KEY_UNINSTALL_PROGRAM,
                                 Encode(codePage, settings.uninstallProgram.value, "uninstall program",
                                        settings.uninstallProgram.origin, MAX_NAME_LENGTH)});
    // The installer copies these into TEXT_SIZE buffers.
    if (settings.uninstallUrl.given())
        content.extension.push_back({KEY_UNINSTALL_URL, Encode(codePage, settings.uninstallUrl.value, "uninstall url",
                                                               settings.uninstallUrl.origin, MAX_NAME_LENGTH)});
    if (settings.version.given())
        content.extension.push_back({KEY_PRODUCT_VERSION, settings.version.value});
    if (settings.company.given())
        content.extension.push_back({KEY_PRODUCT_PUBLISHER, Encode(codePage, settings.company.value, "company",
                                                                   settings.company.origin, MAX_NAME_LENGTH)});
    std::vector<std::string> uninstallTexts = UninstallTextsUtf8(settings.language);
    for (int id = UNINSTALL_TEXT_FIRST; id <= UNINSTALL_TEXT_LAST; id++)
        additionText(id, uninstallTexts[(size_t)(id - UNINSTALL_TEXT_FIRST)]);
    return content;
}

std::vector<u8> LoadStub(const std::string& given)
{
    std::string path = given;
    std::string how = "--stub";
    if (path.empty()) {
        const char* environment = getenv("QUILL_STUB");
        if (environment && *environment) {
            path = environment;
            how = "QUILL_STUB";
        } else {
            path = FindBuiltProgram("quillstead.exe", "ui");
            how = "the build";
            if (path.empty())
                Fail(EXIT_USAGE, "no installer program: build the installer (quillstead.exe), or name one "
                                 "with --stub FILE or QUILL_STUB");
        }
    }
    return ReadProgram(path, "installer program", how);
}

std::vector<u8> LoadUninstaller(const std::string& given)
{
    std::string path = given;
    std::string how = "--uninstaller";
    if (path.empty()) {
        const char* environment = getenv("QUILL_UNINSTALLER");
        if (environment && *environment) {
            path = environment;
            how = "QUILL_UNINSTALLER";
        } else {
            path = FindBuiltProgram(UNINSTALLER_FILE_NAME, "uninstall");
            how = "the build";
            if (path.empty())
                Fail(EXIT_USAGE, "no uninstaller program: build it (" UNINSTALLER_FILE_NAME "), name one with "
                                 "--uninstaller FILE or QUILL_UNINSTALLER, or pack without the uninstall "
                                 "(--no-uninstall, [uninstall] enabled = no)");
        }
    }
    return ReadProgram(path, "uninstaller program", how);
}

int Pack(const PackOptions& options)
{
    auto started = std::chrono::steady_clock::now();
    PackSettings settings = options.settings;
    CheckRequiredSettings(settings);
    bool uninstall = settings.UninstallEnabled();
    WingetFacts winget;
    if (!options.wingetDir.empty())
        winget = WingetFactsOf(settings, options.layout);
    CodePage codePage(PackCodePage(settings));
    StringBlockContent content = BuildContent(settings, codePage);
    std::vector<u8> stub = ApplyProgramLook(LoadStub(options.stub), LookOf(settings, options.output));
    bool levelSet = SetPrivileges(settings, stub);
    bool signing = !options.signing.certificate.empty();
    if (signing)
        CheckSigning(options.signing);

    WalkOptions walk;
    walk.codePage = &codePage;
    walk.followSymlinks = options.followSymlinks;
    walk.rules = &settings.attributes;
    long long epochSeconds = -1;
    const char* epoch = getenv("SOURCE_DATE_EPOCH");
    if (epoch && *epoch) {
        char* end = nullptr;
        errno = 0;
        long long seconds = strtoll(epoch, &end, 10);
        if (*end || errno || seconds < 0)
            Fail(EXIT_USAGE, std::string("SOURCE_DATE_EPOCH=") + epoch + ": not a number of seconds since 1970");
        walk.clampTimes = true;
        walk.latestSeconds = seconds;
        epochSeconds = seconds;
    }
    // The uninstaller, signed before it is packed: the copy on the user's disk is signed.
    std::vector<u8> uninstaller;
    std::string uninstallerStored;
    if (uninstall) {
        uninstaller = PrepareUninstaller(options, settings, levelSet);
        uninstallerStored = Encode(codePage, settings.uninstallProgram.value, "uninstall program",
                                   settings.uninstallProgram.origin, MAX_NAME_LENGTH);
    }
    SourceTree tree = WalkSourceTree(options.source, walk);
    WarnMissingGroupTargets(settings, tree);
    if (uninstall)
        RefuseUninstallerClash(tree, settings, options.source);
    u64 totalSize = tree.totalSize + uninstaller.size();
    u32 files = tree.files + (uninstall ? 1 : 0);
    if (totalSize > 0xFFFFFFFFull)
        Fail(EXIT_USAGE, "the files and the uninstaller take " + std::to_string(totalSize) +
                             " bytes; an archive holds at most 4294967295");

    ArchiveHeader header{};
    header.totalSize = (u32)totalSize;
    header.backgroundMaximized = settings.backgroundMaximized ? 1 : 0;
    std::vector<u8> start = ArchiveStart(header, content);
    OutputLayout layout = options.layout;
    // A signing tool aligns the certificate table to 8 bytes with zeros, which in an
    // installer whose archive goes on in disk2.pak would read as archive bytes.
    if (signing && layout.kind == OutputLayout::SPLIT)
        layout.firstSize &= ~(u64)7;
    if (layout.kind == OutputLayout::VOLUMES && layout.volumeSize < start.size())
        Fail(EXIT_USAGE, "volume size " + std::to_string(layout.volumeSize) + ": disk1.pak must hold the " +
                             std::to_string(start.size()) + " bytes of header and string block");
    if (layout.kind == OutputLayout::SPLIT && layout.firstSize < ARCHIVE_OFFSET + start.size())
        Fail(EXIT_USAGE, "split size " + std::to_string(layout.firstSize) + ": the installer must hold " +
                             std::to_string(ARCHIVE_OFFSET + start.size()) +
                             " bytes (0xE000, the header and the string block)");
    if (layout.kind != OutputLayout::SINGLE && layout.volumeSize == 0)
        Fail(EXIT_USAGE, "a volume size of 0 bytes");

    MakeDirectories(DirectoryOf(AbsolutePath(options.output)));
    OutputSet output(options.output, stub, layout);
    output.Write(start.data(), start.size());
    std::vector<Expected> expected;
    expected.reserve(tree.entries.size() + 1);
    RecordWriter records;
    Progress progress(!options.quiet, "pack", totalSize, files);
    if (uninstall) {
        // First in the stream, so that an install broken off after it can still be removed.
        Expected want;
        want.kind = TreeEntry::FILE;
        want.stored = uninstallerStored;
        want.path = settings.uninstallProgram.value;
        want.size = (u32)uninstaller.size();
        want.attributes = ATTRIBUTE_ARCHIVE;
        int64_t seconds = epochSeconds >= 0 ? epochSeconds : (int64_t)time(nullptr);
        if (!UnixToFileTime(seconds, 0, want.fileTime))
            Fail(EXIT_USAGE, "the time for the uninstaller cannot be stored");
        ContentHash hash;
        hash.Add(uninstaller.data(), uninstaller.size());
        want.hash = hash.Value();
        records.File(uninstallerStored, uninstaller, ATTRIBUTE_ARCHIVE, want.fileTime);
        expected.push_back(want);
        std::vector<u8> bytes = records.Take();
        output.Write(bytes.data(), bytes.size());
        progress.Advance(uninstaller.size(), 1);
    }
    for (const TreeEntry& entry : tree.entries) {
        if (Interrupted())
            Fail(EXIT_INTERRUPTED, "interrupted");
        Expected want;
        want.kind = entry.kind;
        want.stored = entry.stored;
        want.path = entry.path;
        if (entry.kind == TreeEntry::DIRECTORY) {
            records.Directory(entry.stored);
        } else if (entry.kind == TreeEntry::UP) {
            records.Up();
        } else {
            StreamedFile file(entry);
            want.size = (u32)entry.size;
            want.attributes = entry.attributes;
            want.fileTime = entry.fileTime;
            records.FileStream(
                entry.stored, file.Size(), entry.attributes, entry.fileTime,
                [&file](u8* to, size_t max) { return file.Read(to, max); },
                [&output](const u8* data, size_t size) { output.Write(data, size); },
                options.best || settings.bestCompression ? LZARI_BEST : LZARI_NORMAL);
            file.CheckEnd();
            want.hash = file.Hash();
            progress.Advance(entry.size, 1);
        }
        expected.push_back(want);
        std::vector<u8> bytes = records.Take();
        if (!bytes.empty())
            output.Write(bytes.data(), bytes.size());
    }
    records.End();
    std::vector<u8> end = records.Take();
    output.Write(end.data(), end.size());
    output.Finish();
    progress.Done();
    if (records.TotalSize() != totalSize)
        Fail(EXIT_IO, "the files changed while they were packed");
    // The program's checksum over the whole file, then the signature, as signing expects.
    const std::string& program = output.Files()[0].tempPath;
    WritePeChecksum(program);
    if (signing) {
        SigningOptions sign = options.signing;
        sign.description = settings.title.value;
        SignProgram(program, sign);
    }

    if (options.verify)
        Verify(output, content, header, expected, totalSize, files, options.quiet);
    // The manifests name the installer's final bytes; they get their names with it.
    std::unique_ptr<ManifestFiles> manifests;
    if (!options.wingetDir.empty()) {
        winget.sha256 = Sha256OfFile(program);
        manifests.reset(new ManifestFiles(options.wingetDir, WingetManifests(winget)));
    }
    output.Commit();
    if (manifests)
        manifests->Commit();

    if (!options.quiet) {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        u64 archive = output.ArchiveBytes();
        printf("packed %u files and %u folders, %s into %s (%.1f%%) in %.2f s%s\n", tree.files,
               tree.directories, FormatBytes(tree.totalSize).c_str(), FormatBytes(archive).c_str(),
               tree.totalSize ? 100.0 * (double)archive / (double)tree.totalSize : 0.0, seconds,
               options.verify ? ", verified" : "");
        if (uninstall)
            printf("  with the uninstaller %s (%zu bytes%s), uninstall id %s\n",
                   settings.uninstallProgram.value.c_str(), uninstaller.size(), signing ? ", signed" : "",
                   settings.uninstallId.value.c_str());
        printf("%s", DescribeLayout(output).c_str());
        if (manifests)
            for (const std::string& path : manifests->Paths())
                printf("  %s  winget manifest\n", path.c_str());
    }
    return EXIT_SOUND;
}
