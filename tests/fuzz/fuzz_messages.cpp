// Message lookup on a string block: the input is the 22-byte archive header followed by
// the block, as OpenArchive would hold it (a heap copy with one guard NUL). Every id is
// looked up at several capacities, and the results formatted as the installer does.
// Checked: every text ends within its capacity, and no lookup reads past the block (the
// sanitizers see that).
#include <string.h>

#include <vector>

#include "archive/archive.h"
#include "archive/context.h"
#include "archive/messages.h"
#include "archive/platform.h"
#include "archive/text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < ARCHIVE_HEADER_SIZE)
        return 0;
    memset(&context, 0, sizeof(context));
    memcpy(&context.header, data, ARCHIVE_HEADER_SIZE);
    u32 blockSize = (u32)(size - ARCHIVE_HEADER_SIZE);
    context.header.stringBlockSize = blockSize;
    // Exactly the block's bytes plus the guard, so that the sanitizer sees any overrun.
    context.stringBlock = (char*)PlatAlloc(blockSize + 1);
    memcpy(context.stringBlock, data + ARCHIVE_HEADER_SIZE, blockSize);
    context.stringBlock[blockSize] = 0;

    StringBlockIsSound(context.stringBlock, blockSize, &context.header);
    const u32 capacities[] = {1, 2, 200, TEXT_SIZE};
    for (int id = 0; id <= 125; id++) {
        for (u32 capacity : capacities) {
            char text[TEXT_SIZE];
            memset(text, 'x', sizeof(text));
            LookupMessage(id, text, capacity);
            FUZZ_CHECK(memchr(text, 0, capacity), "a message without its end in the capacity");
        }
        char format[TEXT_SIZE], shown[TEXT_SIZE];
        LookupMessage(id, format, TEXT_SIZE);
        FormatWithText(shown, TEXT_SIZE, format, context.stringBlock);
        FormatArgument figures[2] = {{0, 4000000000u}, {0, 7}};
        FormatText(shown, TEXT_SIZE, format, figures, 2);
        FUZZ_CHECK(memchr(shown, 0, TEXT_SIZE), "a formatted message without its end");
    }
    for (u32 n = 0; n <= (u32)context.header.groupItemCount * 2 + 6 && n < 600; n++)
        FUZZ_CHECK(TextLength(StringBlockEntry(context.header.groupItemsOffset, n)) <= blockSize, "entry");
    char directory[TEXT_SIZE];
    DefaultInstallDirectory(StringBlockEntry(0, ENTRY_INSTALL_DIR), "C:\\Program Files", directory);
    FUZZ_CHECK(memchr(directory, 0, TEXT_SIZE), "install directory without its end");
    DefaultInstallDirectory(StringBlockEntry(0, ENTRY_INSTALL_DIR), 0, directory);
    FreeStringBlock();
    return 0;
}
