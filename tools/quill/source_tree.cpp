#include "source_tree.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <set>

#include "codepage.h"
#include "quill.h"

namespace {

const int64_t EPOCH_DIFFERENCE = 11644473600;  // seconds from 1601 to 1970
const u64 TICKS_PER_SECOND = 10000000;
const u64 FORMAT_LIMIT = 0xFFFFFFFFull;        // sizes are u32 in the format
const size_t ERRORS_SHOWN = 20;

struct Walker {
    const WalkOptions& options;
    SourceTree tree;
    std::vector<std::string> problems;
    std::set<std::pair<dev_t, ino_t>> ancestors;  // folders on the current path: loops
    std::map<std::string, u32> extraAttributes;  // path -> bits, from the project
    std::set<std::string> directories;           // paths of folders, for rule checks

    explicit Walker(const WalkOptions& o) : options(o) {}

    void Problem(const std::string& text)
    {
        problems.push_back(text);
    }

    void Folder(const std::string& native, const std::string& relative);
};

struct Child {
    std::string name;
    std::string native;
    struct stat info;
};

void Walker::Folder(const std::string& native, const std::string& relative)
{
    DIR* dir = opendir(native.c_str());
    if (!dir)
        FailErrno("cannot read folder " + native);
    std::vector<Child> files, folders;
    errno = 0;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        Child child;
        child.name = name;
        child.native = native + "/" + name;
        std::string path = relative.empty() ? name : relative + "/" + name;
        if (lstat(child.native.c_str(), &child.info) != 0) {
            int error = errno;
            closedir(dir);
            errno = error;
            FailErrno("cannot examine " + child.native);
        }
        if (S_ISLNK(child.info.st_mode)) {
            if (!options.followSymlinks) {
                Problem(Printable(path) + ": a symbolic link (--follow-symlinks packs what it points to)");
                continue;
            }
            if (stat(child.native.c_str(), &child.info) != 0) {
                Problem(Printable(path) + ": a symbolic link that leads nowhere (" + strerror(errno) + ")");
                continue;
            }
        }
        if (S_ISDIR(child.info.st_mode))
            folders.push_back(child);
        else if (S_ISREG(child.info.st_mode))
            files.push_back(child);
        else
            Problem(Printable(path) + ": a special file (device, pipe or socket) cannot be packed");
        errno = 0;
    }
    int readError = errno;
    closedir(dir);
    if (readError) {
        errno = readError;
        FailErrno("cannot read folder " + native);
    }
    auto byName = [](const Child& a, const Child& b) { return a.name < b.name; };
    std::sort(files.begin(), files.end(), byName);
    std::sort(folders.begin(), folders.end(), byName);

    std::map<std::string, std::string> folded;  // case-folded name -> first name
    auto storedName = [&](const Child& child, const std::string& path, std::string& stored) {
        std::string bad;
        if (!options.codePage->Encode(child.name, stored, bad)) {
            Problem(Printable(path) + ": " + bad + " has no place in code page " +
                    std::to_string(options.codePage->Number()));
            return false;
        }
        std::string wrong = CheckStoredName(stored);
        if (!wrong.empty()) {
            Problem(Printable(path) + ": " + wrong);
            return false;
        }
        auto [at, fresh] = folded.emplace(FoldCase(child.name), child.name);
        if (!fresh) {
            Problem(Printable(path) + ": differs only in case from \"" + Printable(at->second) +
                    "\" in the same folder");
            return false;
        }
        return true;
    };

    for (const Child& child : files) {
        std::string path = relative.empty() ? child.name : relative + "/" + child.name;
        TreeEntry entry;
        entry.kind = TreeEntry::FILE;
        entry.path = path;
        entry.source = child.native;
        if (!storedName(child, path, entry.stored))
            continue;
        entry.size = (u64)child.info.st_size;
        if (entry.size > FORMAT_LIMIT) {
            Problem(Printable(path) + ": " + std::to_string(entry.size) +
                    " bytes; a file may hold at most 4294967295");
            continue;
        }
        int64_t seconds = child.info.st_mtim.tv_sec;
        long nanoseconds = child.info.st_mtim.tv_nsec;
        if (options.clampTimes && (seconds > options.latestSeconds || (seconds == options.latestSeconds && nanoseconds))) {
            seconds = options.latestSeconds;
            nanoseconds = 0;
        }
        if (!UnixToFileTime(seconds, nanoseconds, entry.fileTime)) {
            Problem(Printable(path) + ": its modification time cannot be stored");
            continue;
        }
        entry.attributes = ATTRIBUTE_ARCHIVE;
        if (!(child.info.st_mode & S_IWUSR))
            entry.attributes |= ATTRIBUTE_READONLY;
        auto extra = extraAttributes.find(path);
        if (extra != extraAttributes.end()) {
            entry.attributes |= extra->second;
            extraAttributes.erase(extra);
        }
        tree.totalSize += entry.size;
        tree.files++;
        tree.entries.push_back(std::move(entry));
    }
    for (const Child& child : folders) {
        std::string path = relative.empty() ? child.name : relative + "/" + child.name;
        TreeEntry entry;
        entry.kind = TreeEntry::DIRECTORY;
        entry.path = path;
        if (!storedName(child, path, entry.stored))
            continue;
        std::pair<dev_t, ino_t> id(child.info.st_dev, child.info.st_ino);
        if (ancestors.count(id)) {
            Problem(Printable(path) + ": leads back into a folder that contains it (a link loop)");
            continue;
        }
        directories.insert(path);
        tree.directories++;
        tree.entries.push_back(entry);
        ancestors.insert(id);
        Folder(child.native, path);
        ancestors.erase(id);
        TreeEntry up;
        up.kind = TreeEntry::UP;
        tree.entries.push_back(up);
    }
}

}  // namespace

std::string CheckStoredName(const std::string& stored)
{
    if (stored.empty())
        return "an empty name";
    if (stored.size() > MAX_NAME_LENGTH)
        return "the name takes " + std::to_string(stored.size()) + " bytes; at most 255 fit";
    for (unsigned char c : stored) {
        if (c < 0x20)
            return "the name holds a control character";
        if (strchr("\\/:*?\"<>|", c))
            return std::string("the name holds \"") + (char)c + "\", which Windows does not allow";
    }
    if (stored.back() == '.' || stored.back() == ' ')
        return "the name ends with a dot or a space, which Windows drops";
    // Device names are reserved with any extension: "con.txt" opens the console.
    std::string base = stored.substr(0, stored.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = (char)toupper((unsigned char)c);
    static const char* devices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$"};
    bool device = false;
    for (const char* d : devices)
        device = device || base == d;
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
        base[3] >= '1' && base[3] <= '9')
        device = true;
    if (device)
        return "\"" + base + "\" is a device name on Windows";
    return "";
}

bool UnixToFileTime(int64_t seconds, long nanoseconds, u64& fileTime)
{
    if (seconds < -EPOCH_DIFFERENCE)
        return false;
    u64 since1601 = (u64)(seconds + EPOCH_DIFFERENCE);
    if (since1601 > (UINT64_MAX - TICKS_PER_SECOND) / TICKS_PER_SECOND)
        return false;
    fileTime = since1601 * TICKS_PER_SECOND + (u64)nanoseconds / 100;
    return true;
}

void FileTimeToUnix(u64 fileTime, int64_t& seconds, long& nanoseconds)
{
    seconds = (int64_t)(fileTime / TICKS_PER_SECOND) - EPOCH_DIFFERENCE;
    nanoseconds = (long)(fileTime % TICKS_PER_SECOND) * 100;
}

std::string FormatFileTime(u64 fileTime)
{
    int64_t seconds;
    long nanoseconds;
    FileTimeToUnix(fileTime, seconds, nanoseconds);
    time_t t = (time_t)seconds;
    struct tm parts;
    char text[64];
    if (!gmtime_r(&t, &parts) || !strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &parts))
        return "(time " + std::to_string(fileTime) + ")";
    std::string result = text;
    if (nanoseconds) {
        char fraction[16];
        snprintf(fraction, sizeof(fraction), ".%07ld", nanoseconds / 100);
        result += fraction;
    }
    return result;
}

SourceTree WalkSourceTree(const std::string& root, const WalkOptions& options)
{
    struct stat info;
    if (stat(root.c_str(), &info) != 0)
        FailErrno("cannot open source folder " + root);
    if (!S_ISDIR(info.st_mode))
        Fail(EXIT_USAGE, root + " is not a folder");
    Walker walker(options);
    if (options.rules)
        for (const AttributeRule& rule : *options.rules)
            walker.extraAttributes[rule.path] |= rule.attributes;
    walker.ancestors.insert({info.st_dev, info.st_ino});
    walker.Folder(root, "");
    if (walker.tree.totalSize > FORMAT_LIMIT)
        walker.Problem("the files add up to " + std::to_string(walker.tree.totalSize) +
                       " bytes; an archive holds at most 4294967295");
    if (options.rules)
        for (const AttributeRule& rule : *options.rules)
            if (walker.extraAttributes.count(rule.path))
                walker.Problem(rule.origin + ": " + rule.path +
                               (walker.directories.count(rule.path)
                                    ? " is a folder; only files carry attributes"
                                    : " is not a file in the source folder"));
    if (!walker.problems.empty()) {
        std::string text = "cannot pack " + root + ":";
        for (size_t i = 0; i < walker.problems.size() && i < ERRORS_SHOWN; i++)
            text += "\n  " + walker.problems[i];
        if (walker.problems.size() > ERRORS_SHOWN)
            text += "\n  ... and " + std::to_string(walker.problems.size() - ERRORS_SHOWN) + " more";
        Fail(EXIT_USAGE, text);
    }
    return walker.tree;
}
