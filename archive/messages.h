// Message ids: every text the installer shows after start-up is looked up by id in the
// archive's message list. Ids double as the worker's failure codes.
#ifndef QUILL_ARCHIVE_MESSAGES_H
#define QUILL_ARCHIVE_MESSAGES_H

#include "format.h"

enum MessageId {
    MSG_ATTENTION = 1,            // caption of information boxes and the volume prompt
    MSG_CANCEL = 2,               // folder browser's Cancel
    MSG_SELECT_DIRECTORY = 3,     // folder browser caption
    MSG_BROWSE = 4,               // Browse button
    MSG_EXIT = 5,                 // quit button of the install-directory dialog
    MSG_CANT_READ_DISK = 6,       // %s
    MSG_CANT_OPEN_DIRECTORY = 7,  // %s
    MSG_CANT_CREATE_DIRECTORY = 8,// %s
    MSG_OK = 9,
    MSG_CANT_OPEN_FILE = 10,      // %s
    MSG_WRITE_ERROR = 11,         // %s
    MSG_CONFIRMATION = 12,        // caption of the yes/no questions
    MSG_BREAK = 13,               // progress button while extracting
    MSG_SYSTEM_ERROR = 14,        // stands in for every id without an entry
    MSG_CANT_RUN_PROCESS = 15,    // %s
    MSG_READ_ERROR = 16,          // %s
    MSG_ERROR = 17,               // caption of error boxes
    MSG_INSTALL_DIRECTORY = 111,  // group box label
    MSG_CREATE_FOLDER = 112,      // program-group check box
    MSG_REQUIRED_SPACE = 113,     // %lu kilobytes needed
    MSG_PRODUCT_NAME = 114,       // not looked up
    MSG_BREAK_QUESTION = 115,
    MSG_QUIT_QUESTION = 116,
    MSG_INSTALL_COMPLETE = 117,
    MSG_INSERT_DISK = 118,        // %i volume number
    MSG_WRONG_STRUCTURE = 119,    // %s
    MSG_TOP_LINE = 120,           // stored shifted by 16
    MSG_NOT_ENOUGH_SPACE = 121    // %lu free, %lu needed
};

// Exit code of a worker that the user broke off; not a message id.
enum { WORKER_BROKEN = 100 };

// The start-up texts, needed before the string block is read.
#define TEXT_DONT_OPEN "Don't open %s"
#define TEXT_READING_HEADER "Reading header of archive."
#define TEXT_READING_RESOURCE "Reading resource of archive."
#define TEXT_ERROR_CAPTION "Error"

// Copies the text of message `id` into destination (capacity bytes, terminator included),
// cut at the capacity. Ids without an entry give the text of MSG_SYSTEM_ERROR. Returns
// destination. Callable from any thread once OpenArchive has succeeded.
char* LookupMessage(int id, char* destination, u32 capacity);

struct FormatArgument;
// The worker's information boxes: message `id` formatted with its one argument, captioned
// with MSG_ATTENTION, owned by the progress dialog. The answer (BoxAnswer).
int ShowAttention(int id, const FormatArgument* argument, u32 style);

// A message box's texts: message `id` formatted with count arguments (none: the text as
// it stands, its %% and %s kept) and message captionId as its caption. The box's code,
// the core's and the interface's, composes them here.
struct MessageTexts {
    char format[TEXT_SIZE];
    char text[TEXT_SIZE];
    char caption[TEXT_SIZE];
};
// Returns the text to show: box->text, or box->format without arguments.
const char* ComposeMessage(MessageTexts* box, int id, const FormatArgument* arguments, u32 count,
                           int captionId);

// Message list entry (1..28) that an id is stored in; every id without one maps to the
// entry of MSG_SYSTEM_ERROR.
u32 MessageEntry(int id);

// What a message text must carry as its arguments.
enum PlaceholderKind {
    PLACEHOLDERS_NONE,
    PLACEHOLDERS_STRING,      // one %s
    PLACEHOLDERS_KILOBYTES,   // one %lu
    PLACEHOLDERS_VOLUME,      // one %i
    PLACEHOLDERS_FREE_NEEDED  // two %lu
};
PlaceholderKind MessagePlaceholders(int id);

#endif
