// The packer's project reader on any file: it either fills the settings or fails with a
// usage or I/O error naming the place; no other exception and no crash. What it accepts
// is then turned into string block content, which must fail the same way or fit.
#include <string>

#include "pack/writer.h"
#include "codepage.h"
#include "fuzz_support.h"
#include "pack.h"
#include "project.h"
#include "quill.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string path = WorkDir() + "/project.ini";
    WriteFileOrDie(path, data, size);
    PackSettings settings;
    try {
        ReadProjectFile(path, settings);
        CheckRequiredSettings(settings);
        CodePage codePage(PackCodePage(settings));
        StringBlockContent content = BuildContent(settings, codePage);
        for (const std::string* text : {&content.productTitle, &content.windowTitle, &content.installDir,
                                        &content.postInstall})
            FUZZ_CHECK(text->size() <= MAX_NAME_LENGTH, "an entry the installer would cut");
        ArchiveHeader header{};
        BuildStringBlock(content, header);
    } catch (const Failure& failure) {
        FUZZ_CHECK(failure.code == EXIT_USAGE || failure.code == EXIT_IO, "a failure of the wrong kind");
        FUZZ_CHECK(!failure.message.empty(), "a failure without a message");
    }
    return 0;
}
