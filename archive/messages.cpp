#include "messages.h"

#include "archive.h"
#include "context.h"
#include "text.h"

u32 MessageEntry(int id)
{
    if (id >= 1 && id <= 17)
        return (u32)id;
    if (id >= 111 && id <= 121)
        return (u32)(id - 93);
    return MSG_SYSTEM_ERROR;
}

PlaceholderKind MessagePlaceholders(int id)
{
    // By message entry: ids 1 to 17, then 111 to 121. An id without an entry takes message
    // 14's (MessageEntry), which has none.
    static const u8 kinds[MESSAGE_COUNT] = {
        0, 0, 0, 0, 0, PLACEHOLDERS_STRING, PLACEHOLDERS_STRING, PLACEHOLDERS_STRING, 0,
        PLACEHOLDERS_STRING, PLACEHOLDERS_STRING, 0, 0, 0, PLACEHOLDERS_STRING, PLACEHOLDERS_STRING, 0,
        0, 0, PLACEHOLDERS_KILOBYTES, 0, 0, 0, 0, PLACEHOLDERS_VOLUME, PLACEHOLDERS_STRING, 0,
        PLACEHOLDERS_FREE_NEEDED};
    return (PlaceholderKind)kinds[MessageEntry(id) - 1];
}

char* LookupMessage(int id, char* destination, u32 capacity)
{
    if (capacity == 0)
        return destination;
    char stored[STORED_TEXT_SIZE];
    CopyText(stored, StringBlockEntry(context.header.messagesOffset, MessageEntry(id)), STORED_TEXT_SIZE);
    if (id == SHIFTED_MESSAGE)
        for (char* p = stored; *p; p++)
            *p = (char)(u8)((u8)*p - MESSAGE_SHIFT);
    // Too long for the destination: cut in the archive's code page, where a byte is no
    // half of a UTF-8 character.
    while (!PlatArchiveText(stored, destination, capacity) && stored[0])
        stored[TextLength(stored) - 1] = 0;
    return destination;
}

const char* ComposeMessage(MessageTexts* box, int id, const FormatArgument* arguments, u32 count,
                           int captionId)
{
    LookupMessage(id, box->format, TEXT_SIZE);
    LookupMessage(captionId, box->caption, TEXT_SIZE);
    return count ? FormatText(box->text, TEXT_SIZE, box->format, arguments, count) : box->format;
}

// Its texts live in a frame of their own, beside the callers' paths.
__attribute__((noinline)) int ShowAttention(int id, const FormatArgument* argument, u32 style)
{
    MessageTexts box;
    const char* text = ComposeMessage(&box, id, argument, 1, MSG_ATTENTION);
    return PlatMessageBox(context.progressDialog, text, box.caption, style);
}
