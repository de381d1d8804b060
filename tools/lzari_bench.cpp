// lzari-bench [--repeat N] [--best] [--clock cpu|wall] [--json] [files or directories...]:
// encodes each file with the packer's LZARI encoder (--best: the cost-based parse) and
// decodes it with the installer's worker and decoder through the native host, checks that
// the bytes come back, and prints sizes, ratio and speeds per file and in total. Without
// arguments it takes the corpus beside the checkout (../shared/corpus).
// Each file is coded and decoded N times (default 3); speeds are given for the best and
// the median run. --clock cpu (the default) times the process's processor time, which a
// machine shared with other work disturbs far less than the wall clock does. The ratio
// counts each payload's 4-byte size field and bit stream, not the 4 bytes of padding.
// --json prints one JSON object instead of the table.
// Exit code: 0 when every file came back intact, 1 when one did not, 2 on a usage or I/O
// failure.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
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

// The benchmark's archive of one file record with the given payload.
Bytes BenchArchive(const Bytes& payload, u32 size)
{
    StringBlockContent content;
    content.productTitle = "lzari-bench";
    content.windowTitle = "lzari-bench";
    content.installDir = "bench";
    return OneFileArchive(payload, size, content);
}

double MegabytesPerSecond(double bytes, double seconds)
{
    return seconds > 0 ? bytes / seconds / 1e6 : 0;
}

bool cpuClock = true;

// Seconds on the chosen clock: the process's processor time, or the wall clock.
double Now()
{
    if (cpuClock) {
        timespec t;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
    }
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// The best and the median of a file's runs.
struct Timing {
    double best = 0;
    double median = 0;
};

Timing Summarise(std::vector<double> runs)
{
    std::sort(runs.begin(), runs.end());
    Timing timing;
    timing.best = runs.front();
    size_t n = runs.size();
    timing.median = n % 2 ? runs[n / 2] : (runs[n / 2 - 1] + runs[n / 2]) / 2;
    return timing;
}

struct Result {
    std::string label;
    double size = 0;
    double encoded = 0;
    Timing encode;
    Timing decode;
    bool intact = true;
};

std::string JsonText(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        if ((unsigned char)c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof(escape), "\\u%04x", c);
            quoted += escape;
            continue;
        }
        quoted += c;
    }
    return quoted + "\"";
}

void PrintRow(const Result& r)
{
    printf("%-36s %10.0f %10.0f %7.4f %8.1f %8.1f %8.1f %8.1f%s\n", r.label.c_str(), r.size, r.encoded,
           r.size > 0 ? r.encoded / r.size : 0.0, MegabytesPerSecond(r.size, r.encode.best),
           MegabytesPerSecond(r.size, r.encode.median), MegabytesPerSecond(r.size, r.decode.best),
           MegabytesPerSecond(r.size, r.decode.median), r.intact ? "" : "  MISMATCH");
}

void PrintJsonRow(const Result& r, bool last)
{
    printf("    {\"file\": %s, \"size\": %.0f, \"encoded\": %.0f, \"ratio\": %.4f, "
           "\"encode_mbps_best\": %.2f, \"encode_mbps_median\": %.2f, "
           "\"decode_mbps_best\": %.2f, \"decode_mbps_median\": %.2f, "
           "\"decode_us_best\": %.1f, \"intact\": %s}%s\n",
           JsonText(r.label).c_str(), r.size, r.encoded, r.size > 0 ? r.encoded / r.size : 0.0,
           MegabytesPerSecond(r.size, r.encode.best), MegabytesPerSecond(r.size, r.encode.median),
           MegabytesPerSecond(r.size, r.decode.best), MegabytesPerSecond(r.size, r.decode.median),
           r.decode.best * 1e6, r.intact ? "true" : "false", last ? "" : ",");
}

}  // namespace

int main(int argc, char** argv)
{
    int repeat = 3;
    bool json = false;
    bool best = false;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--repeat" && i + 1 < argc) {
            repeat = atoi(argv[++i]);
        } else if (arg == "--clock" && i + 1 < argc && (!strcmp(argv[i + 1], "cpu") || !strcmp(argv[i + 1], "wall"))) {
            cpuClock = !strcmp(argv[++i], "cpu");
        } else if (arg == "--json") {
            json = true;
#ifdef LZARI_ENCODER_EFFORT
        } else if (arg == "--best") {
            best = true;
#endif
        } else if (arg == "-h" || arg == "--help" || (arg.size() > 1 && arg[0] == '-')) {
            fprintf(stderr, "usage: lzari-bench [--repeat N] [--best] [--clock cpu|wall] [--json] "
                            "[files or directories...]\n");
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

    if (!json)
        printf("%-36s %10s %10s %7s %17s %17s\n%-36s %10s %10s %7s %8s %8s %8s %8s\n", "", "", "", "",
               "encode MB/s", "decode MB/s", "file", "size", "encoded", "ratio", "best", "median", "best",
               "median");
    std::vector<Result> results;
    int failures = 0;
    for (const Input& input : files) {
        const std::string& file = input.path;
        Bytes data;
        if (!ReadFile(file, data) || data.size() > 0xFFFFFFFFu) {
            fprintf(stderr, "lzari-bench: cannot read %s\n", file.c_str());
            failures++;
            continue;
        }
        Result result;
        result.label = input.label;
        result.size = (double)data.size();
        Bytes payload;
        std::vector<double> runs;
        for (int r = 0; r < repeat; r++) {
            payload.clear();
            double start = Now();
#ifdef LZARI_ENCODER_EFFORT
            LzariEncodePayload(data.data(), data.size(), payload, best ? LZARI_BEST : LZARI_NORMAL);
#else
            LzariEncodePayload(data.data(), data.size(), payload);
#endif
            runs.push_back(Now() - start);
        }
        result.encode = Summarise(runs);
        if (!WriteFile(volume, BenchArchive(payload, (u32)data.size()))) {
            fprintf(stderr, "lzari-bench: cannot write %s\n", volume.c_str());
            return 2;
        }

        // The installer's own path: OpenArchive, then the worker decodes the record into
        // the target directory through the volume input.
        runs.clear();
        for (int r = 0; r < repeat && result.intact; r++) {
            ResetHost();
            Host().programPath = program;
            Host().recordBar = false;
            if (!OpenArchive() || chdir(target.c_str()) != 0) {
                fprintf(stderr, "lzari-bench: cannot open the archive for %s\n", file.c_str());
                return 2;
            }
            double start = Now();
            u32 code = RunWorker();
            runs.push_back(Now() - start);
            if (saved[0] && chdir(saved) != 0)
                return 2;
            Bytes decoded;
            result.intact = code == 0 && ReadFile(extracted, decoded) && decoded == data;
            if (code != 0)
                fprintf(stderr, "lzari-bench: %s: the worker ended with %u\n", file.c_str(), code);
            FreeStringBlock();
        }
        result.decode = Summarise(runs);
        if (!result.intact)
            failures++;
        result.encoded = (double)payload.size() - PADDING_SIZE;
        if (!json)
            PrintRow(result);
        results.push_back(result);
    }
    // Totals: the sums of the files' best and of their median times.
    Result total;
    total.label = "total (" + std::to_string(results.size()) + " files)";
    for (const Result& r : results) {
        total.size += r.size;
        total.encoded += r.encoded;
        total.encode.best += r.encode.best;
        total.encode.median += r.encode.median;
        total.decode.best += r.decode.best;
        total.decode.median += r.decode.median;
        total.intact = total.intact && r.intact;
    }
    if (json) {
        printf("{\n  \"clock\": \"%s\", \"repeat\": %d, \"parse\": \"%s\",\n  \"files\": [\n",
               cpuClock ? "cpu" : "wall", repeat, best ? "best" : "normal");
        for (size_t i = 0; i < results.size(); i++)
            PrintJsonRow(results[i], i + 1 == results.size());
        printf("  ],\n  \"total\":\n");
        PrintJsonRow(total, true);
        printf("}\n");
    } else {
        PrintRow(total);
        if (failures)
            printf("%d file(s) did not come back intact\n", failures);
    }

    std::string cleanup = "rm -rf '" + work + "'";
    if (system(cleanup.c_str()) != 0)
        fprintf(stderr, "lzari-bench: could not remove %s\n", work.c_str());
    return failures ? 1 : 0;
}
