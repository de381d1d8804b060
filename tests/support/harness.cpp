#include "harness.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include "archive/archive.h"
#include "extract/worker.h"

TempDir::TempDir()
{
    char pattern[] = "/tmp/quill-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    // Read-only files and directories are made writable so the tree can go.
    std::string command = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    if (system(command.c_str()) != 0) {
    }
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes TextBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes)
        b = (u8)generator();
    return bytes;
}

Bytes Repeat(const std::string& text, size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; i++)
        bytes[i] = (u8)text[i % text.size()];
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

Bytes MakeArchive(const RecordWriter& records, StringBlockContent content)
{
    ArchiveHeader header{};
    header.totalSize = (u32)records.TotalSize();
    header.backgroundMaximized = 1;
    if (content.productTitle.empty())
        content.productTitle = "Test Product";
    if (content.windowTitle.empty())
        content.windowTitle = "Test Product Setup";
    if (content.installDir.empty())
        content.installDir = "Test\\Product";
    return JoinArchive(header, content, records.Bytes());
}

std::string WriteInstaller(const std::string& dir, const Bytes& archive, size_t stubSize)
{
    Bytes file(stubSize, 0);
    file.insert(file.end(), archive.begin(), archive.end());
    std::string path = dir + "/setup.exe";
    WriteBytes(path, file);
    return path;
}

void WriteVolumes(const std::string& dir, const Bytes& archive, const std::vector<size_t>& cuts)
{
    size_t start = 0;
    for (size_t i = 0; i <= cuts.size(); i++) {
        size_t end = i < cuts.size() ? cuts[i] : archive.size();
        WriteBytes(dir + "/disk" + std::to_string(i + 1) + ".pak",
                   Bytes(archive.begin() + (long)start, archive.begin() + (long)end));
        start = end;
    }
}

int OpenAt(const std::string& programPath)
{
    ResetHost();
    Host().programPath = programPath;
    return OpenArchive();
}

u32 ExtractInto(const std::string& target)
{
    char saved[4096];
    if (!getcwd(saved, sizeof(saved)))
        throw std::runtime_error("getcwd failed");
    if (chdir(target.c_str()) != 0)
        throw std::runtime_error("cannot enter " + target);
    u32 code = RunWorker();
    if (chdir(saved) != 0)
        throw std::runtime_error("cannot return to " + std::string(saved));
    return code;
}

static void Walk(const std::string& root, const std::string& relative, std::map<std::string, Bytes>& tree)
{
    std::string path = relative.empty() ? root : root + "/" + relative;
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string child = relative.empty() ? name : relative + "/" + name;
        struct stat info;
        if (lstat((root + "/" + child).c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            tree[child + "/"] = {};
            Walk(root, child, tree);
        } else {
            tree[child] = ReadBytes(root + "/" + child);
        }
    }
    closedir(dir);
}

std::map<std::string, Bytes> ReadTree(const std::string& root)
{
    std::map<std::string, Bytes> tree;
    Walk(root, "", tree);
    return tree;
}

std::vector<HostEvent> EventsOf(HostEvent::Kind kind)
{
    std::vector<HostEvent> found;
    for (const auto& event : Host().events)
        if (event.kind == kind)
            found.push_back(event);
    return found;
}

std::vector<std::string> BoxTexts()
{
    std::vector<std::string> texts;
    for (const auto& event : EventsOf(HostEvent::MESSAGE_BOX))
        texts.push_back(event.text);
    return texts;
}

std::string CorpusDir(const std::string& sourceDir)
{
    std::string dir = sourceDir + "/../shared/corpus";
    struct stat info;
    if (stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return dir;
    return {};
}
