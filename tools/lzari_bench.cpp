// lzari-bench [--repeat N] [files or directories...]: encodes each file with the packer's
// LZARI encoder and decodes it with the installer's worker and decoder through the native
// host, checks that the bytes come back, and prints sizes, ratio and speeds per file and
// in total. Without arguments it takes the corpus beside the checkout (../shared/corpus).
// Speeds are the best of N runs (default 3); the ratio counts each payload's 4-byte size
// field and bit stream, not the 4 bytes of padding.
// Exit code: 0 when every file came back intact, 1 when one did not, 2 on a usage or I/O
// failure.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/context.h"
#include "host/native_host.h"
#include "pack/writer.h"
#include "pack/lzari_encoder.h"

#ifndef QUILL_SOURCE_DIR
#define QUILL_SOURCE_DIR "."
#endif

namespace {

typedef std::vector<u8> Bytes;
typedef std::chrono::steady_clock Clock;

bool ReadFile(const std::string& path, Bytes& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
    return (bool)out;
}

struct Input {
    std::string path;
    std::string label;  // the path below the directory given, or the file as given
};

void Collect(const std::string& path, const std::string& label, std::vector<Input>& files)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return;
    if (S_ISREG(info.st_mode)) {
        files.push_back({path, label});
        return;
    }
    if (!S_ISDIR(info.st_mode))
        return;
    std::vector<std::string> children;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            // A corpus folder's README describes the corpus; it is not part of it.
            if (name != "." && name != ".." && name != "README.md")
                children.push_back(name);
        }
        closedir(dir);
    }
    std::sort(children.begin(), children.end());
    for (const std::string& child : children)
        Collect(path + "/" + child, label.empty() ? child : label + "/" + child, files);
}

// An archive holding one file record "f" with the given payload.
Bytes OneFileArchive(const Bytes& payload, u32 size)
{
    RecordWriter records;
    records.Header(RECORD_FILE, ATTRIBUTE_ARCHIVE, 0, 1);
    records.Raw({'f'});
    records.Raw(payload);
    records.End();
    ArchiveHeader header{};
    header.totalSize = size;
    StringBlockContent content;
    content.productTitle = "lzari-bench";
    content.windowTitle = "lzari-bench";
    content.installDir = "bench";
    return JoinArchive(header, content, records.Bytes());
}

double MegabytesPerSecond(double bytes, double seconds)
{
    return seconds > 0 ? bytes / seconds / 1e6 : 0;
}

struct Totals {
    double size = 0;
    double encoded = 0;
    double encodeSeconds = 0;
    double decodeSeconds = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    int repeat = 3;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--repeat" && i + 1 < argc) {
            repeat = atoi(argv[++i]);
        } else if (arg == "-h" || arg == "--help" || (arg.size() > 1 && arg[0] == '-')) {
            fprintf(stderr, "usage: lzari-bench [--repeat N] [files or directories...]\n");
            return 2;
        } else {
            paths.push_back(arg);
        }
    }
    if (repeat < 1)
        repeat = 1;
    if (paths.empty())
        paths.push_back(QUILL_SOURCE_DIR "/../shared/corpus");
    std::vector<Input> files;
    for (const std::string& path : paths) {
        struct stat info;
        bool directory = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        Collect(path, directory ? std::string() : path, files);
    }
    if (files.empty()) {
        fprintf(stderr, "lzari-bench: no files found\n");
        return 2;
    }

    char pattern[] = "/tmp/lzari-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        fprintf(stderr, "lzari-bench: cannot make a temporary directory\n");
        return 2;
    }
    std::string work = pattern;
    std::string program = work + "/setup.exe";   // empty: the archive is disk1.pak beside it
    std::string volume = work + "/disk1.pak";
    std::string target = work + "/out";
    std::string extracted = target + "/f";
    if (!WriteFile(program, {}) || mkdir(target.c_str(), 0777) != 0) {
        fprintf(stderr, "lzari-bench: cannot write into %s\n", work.c_str());
        return 2;
    }
    char saved[4096];
    if (!getcwd(saved, sizeof(saved)))
        saved[0] = 0;

    printf("%-44s %10s %10s %7s %9s %9s\n", "file", "size", "encoded", "ratio", "enc MB/s", "dec MB/s");
    Totals totals;
    int failures = 0;
    for (const Input& input : files) {
        const std::string& file = input.path;
        Bytes data;
        if (!ReadFile(file, data) || data.size() > 0xFFFFFFFFu) {
            fprintf(stderr, "lzari-bench: cannot read %s\n", file.c_str());
            failures++;
            continue;
        }
        Bytes payload;
        double encodeSeconds = 1e30;
        for (int r = 0; r < repeat; r++) {
            payload.clear();
            Clock::time_point start = Clock::now();
            LzariEncodePayload(data.data(), data.size(), payload);
            encodeSeconds = std::min(encodeSeconds, std::chrono::duration<double>(Clock::now() - start).count());
        }
        if (!WriteFile(volume, OneFileArchive(payload, (u32)data.size()))) {
            fprintf(stderr, "lzari-bench: cannot write %s\n", volume.c_str());
            return 2;
        }

        // The installer's own path: OpenArchive, then the worker decodes the record into
        // the target directory through the volume input.
        double decodeSeconds = 1e30;
        bool intact = true;
        for (int r = 0; r < repeat && intact; r++) {
            ResetHost();
            Host().programPath = program;
            Host().recordBar = false;
            if (!OpenArchive() || chdir(target.c_str()) != 0) {
                fprintf(stderr, "lzari-bench: cannot open the archive for %s\n", file.c_str());
                return 2;
            }
            Clock::time_point start = Clock::now();
            u32 code = RunWorker();
            double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (saved[0] && chdir(saved) != 0)
                return 2;
            Bytes decoded;
            intact = code == 0 && ReadFile(extracted, decoded) && decoded == data;
            if (code != 0)
                fprintf(stderr, "lzari-bench: %s: the worker ended with %u\n", file.c_str(), code);
            decodeSeconds = std::min(decodeSeconds, seconds);
            FreeStringBlock();
        }
        if (!intact)
            failures++;

        double encoded = (double)payload.size() - PADDING_SIZE;
        printf("%-44s %10zu %10.0f %7.4f %9.1f %9.1f%s\n", input.label.c_str(), data.size(), encoded,
               data.empty() ? 0.0 : encoded / (double)data.size(),
               MegabytesPerSecond((double)data.size(), encodeSeconds),
               MegabytesPerSecond((double)data.size(), decodeSeconds), intact ? "" : "  MISMATCH");
        totals.size += (double)data.size();
        totals.encoded += encoded;
        totals.encodeSeconds += encodeSeconds;
        totals.decodeSeconds += decodeSeconds;
    }
    printf("%-44s %10.0f %10.0f %7.4f %9.1f %9.1f\n", ("total (" + std::to_string(files.size()) + " files)").c_str(),
           totals.size, totals.encoded, totals.size > 0 ? totals.encoded / totals.size : 0.0,
           MegabytesPerSecond(totals.size, totals.encodeSeconds),
           MegabytesPerSecond(totals.size, totals.decodeSeconds));
    if (failures)
        printf("%d file(s) did not come back intact\n", failures);

    std::string cleanup = "rm -rf '" + work + "'";
    if (system(cleanup.c_str()) != 0)
        fprintf(stderr, "lzari-bench: could not remove %s\n", work.c_str());
    return failures ? 1 : 0;
}
