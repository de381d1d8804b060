// The whole archive walk through the native host: header, string block, records and
// payloads as one input, cut into volumes as its first byte says. Checked on every input:
// the walk ends, no file gets more than its size plus the decoder's bound, nothing lands
// outside the target folder, and every failure is one of the worker's message ids.
#include <limits.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "archive/archive.h"
#include "archive/context.h"
#include "archive/messages.h"
#include "host/native_host.h"
#include "extract/lzari.h"
#include "fuzz_support.h"

namespace {

const u32 DECODER_BOUND = 59;           // a match may run this far past a file's size
const u64 DECODE_BUDGET = 4u << 20;     // a size field may claim gigabytes: stop there

bool KnownEnd(u32 code)
{
    switch (code) {
    case 0:
    case MSG_CANT_OPEN_DIRECTORY:
    case MSG_CANT_OPEN_FILE:
    case MSG_WRITE_ERROR:
    case MSG_SYSTEM_ERROR:
    case MSG_READ_ERROR:
    case MSG_WRONG_STRUCTURE:
    case WORKER_BROKEN:
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static std::string work, target, canary;
    if (work.empty()) {
        work = WorkDir();
        target = work + "/target";
        canary = work + "/canary";
        FUZZ_CHECK(mkdir(target.c_str(), 0700) == 0 && mkdir(canary.c_str(), 0700) == 0, "work folders");
        WriteFileOrDie(canary + "/x", (const uint8_t*)"canary", 6);
        WriteFileOrDie(work + "/setup.exe", (const uint8_t*)"", 0);  // no archive: disk1.pak
    }
    // Byte 0: up to three cuts, spread over the archive and shifted by the rest of it.
    u32 cuts = data[0] & 3, shift = data[0] >> 2;
    const uint8_t* archive = data + 1;
    size_t length = size - 1;
    std::vector<size_t> at = {0};
    for (u32 i = 1; i <= cuts; i++)
        at.push_back(std::min(length, length * i / (cuts + 1) + shift));
    at.push_back(length);
    for (u32 v = 1; v <= 4; v++)
        unlink((work + "/disk" + std::to_string(v) + ".pak").c_str());
    for (size_t v = 0; v + 1 < at.size(); v++)
        WriteFileOrDie(work + "/disk" + std::to_string(v + 1) + ".pak", archive + at[v], at[v + 1] - at[v]);
    std::string listed = ListFolder(work);

    ResetHost();
    NativeHost& host = Host();
    host.programPath = work + "/setup.exe";
    host.programFilesDir = std::string("C:\\Program Files");
    if (OpenArchive()) {
        host.confineRoot = target;
        host.overwrite = true;
        host.replaceReadOnly = true;
        host.recordBar = false;
        host.recordDone = [](const RecordHeader& record, u32 fileSize) {
            if (record.type == RECORD_FILE)
                FUZZ_CHECK(DecodedCount() <= (u64)fileSize + DECODER_BOUND, "a file got more than its bound");
        };
        host.safePoint = [] { return (u64)context.bytesDone + DecodedCount() > DECODE_BUDGET; };
        char saved[PATH_MAX];
        FUZZ_CHECK(getcwd(saved, sizeof(saved)) && chdir(target.c_str()) == 0, "cannot enter the target");
        u32 code = RunWorker();
        FUZZ_CHECK(chdir(saved) == 0, "cannot return");
        FUZZ_CHECK(KnownEnd(code), "the worker ended with a code that is no message id");
        FUZZ_CHECK(!context.readBuffer && !context.outputBuffer && !context.volumeHandle && !context.outputHandle,
                   "the worker's end left a handle or a buffer");
    }
    FreeStringBlock();
    FUZZ_CHECK(ListFolder(work) == listed, "something was written beside the target");
    FUZZ_CHECK(ListFolder(canary) == "x\n", "the canary folder changed");
    EmptyFolder(target);
    return 0;
}
