// Shared by the fuzz targets: a private work folder, and the checks every target makes
// beyond "no crash". A failed check aborts, which libFuzzer and the replay both report.
#ifndef QUILL_TESTS_FUZZ_SUPPORT_H
#define QUILL_TESTS_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// A folder of this process, made once and removed at exit.
const std::string& WorkDir();
// Writes bytes to path; aborts when it cannot (the machine, not the input, is at fault).
void WriteFileOrDie(const std::string& path, const uint8_t* data, size_t size);
// Removes everything below path, leaving path itself.
void EmptyFolder(const std::string& path);
// Names directly below path, sorted.
std::string ListFolder(const std::string& path);

#define FUZZ_CHECK(condition, what) \
    do {                            \
        if (!(condition))           \
            FuzzFailed(what, __FILE__, __LINE__); \
    } while (0)
[[noreturn]] void FuzzFailed(const char* what, const char* file, int line);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#endif
