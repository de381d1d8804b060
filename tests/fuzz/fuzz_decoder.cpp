// The LZARI decoder on one payload (size field, bit stream, padding), framed as the only
// file of a sound archive. The size field is cut to 17 bits (past one output buffer) so
// that every input decodes in full, quickly. Checked: at most size + 59 bytes come out, the walk ends with a message id, and
// a payload that decodes to its size leaves the following end record readable.
#include <string.h>

#include <vector>

#include "archive/archive.h"
#include "archive/context.h"
#include "archive/messages.h"
#include "host/native_host.h"
#include "pack/writer.h"
#include "extract/lzari.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::string work;
    if (work.empty()) {
        work = WorkDir();
        WriteFileOrDie(work + "/setup.exe", (const uint8_t*)"", 0);
    }
    std::vector<u8> payload(data, data + size);
    if (payload.size() > 2)
        payload[2] &= 0x01;
    if (payload.size() > 3)
        payload[3] = 0;
    std::vector<u8> archive = OneFileArchive(payload, 1u << 20);
    WriteFileOrDie(work + "/disk1.pak", archive.data(), archive.size());

    ResetHost();
    NativeHost& host = Host();
    host.programPath = work + "/setup.exe";
    host.discardOutput = true;
    host.recordBar = false;
    bool ended = false;
    host.recordDone = [&](const RecordHeader& record, u32 fileSize) {
        if (record.type == RECORD_FILE)
            FUZZ_CHECK(DecodedCount() <= (u64)fileSize + 59, "the decoder passed its bound");
        ended = record.type == RECORD_END;
    };
    FUZZ_CHECK(OpenArchive(), "the frame does not open");
    u32 code = RunWorker();
    FUZZ_CHECK(code == 0 || code == MSG_CANT_OPEN_FILE || code == MSG_WRONG_STRUCTURE, "unexpected end");
    FUZZ_CHECK(code != 0 || ended, "a sound end without the end record");
    FreeStringBlock();
    return 0;
}
