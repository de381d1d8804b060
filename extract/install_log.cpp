// The install log's writer (the worker's side); install_log.h draws the format.
#include "install_log.h"

#include "../archive/held.h"
#include "../archive/abort.h"
#include "../archive/archive.h"
#include "../archive/context.h"
#include "../archive/extension.h"
#include "../archive/messages.h"
#include "../archive/platform.h"
#include "../archive/text.h"

// The log's state: one log per install, written by the worker and, for the group, by the
// interface thread after the worker has ended.
// The file and the walk in one record, whose address InstallLogRecord holds.
static struct LogWalk {
    FileHandle file;                           // 0 when no log is open
    u32 aboveTop;                              // up records past the top not yet undone
    char path[INSTALL_LOG_PATH_SIZE];          // the walk's folder from the install directory
} logWalk;
static char logName[TEXT_SIZE];                // in the install directory
static char* earlier;                          // the earlier log of the same id, NUL-ended; 0: none
static u32 earlierSize;
// A line, off the stack: the installer's frames stay under a page, as it has no stack
// probes. One thread at a time writes the log.
static char lineText[INSTALL_LOG_PATH_SIZE + 64];
// The archive's id and program name, as the log and the key spell them.
static char idText[TEXT_SIZE], programText[TEXT_SIZE];
// The log's start, the byte-order mark and the magic line's text, written as one line.
static const char logStart[] = "\xEF\xBB\xBF" INSTALL_LOG_MAGIC;

int InstallLogActive()
{
    return logWalk.file != 0;
}

// Writes bytes that are already UTF-8 (the byte-order mark, lines carried from the earlier
// log) whole, or fails.
static int WriteRaw(const char* bytes, u32 length)
{
    return logWalk.file && PlatWrite(logWalk.file, bytes, length) == length;
}

// One line: tag, blank, text (held in UTF-8, as every text of the core), CRLF, in one write;
// without a text (0), the tag alone.
int InstallLogEntry(const char* tag, const char* text)
{
    char* line = Held(lineText);
    u32 capacity = sizeof(lineText) - 2;
    u32 length = TextLength(CopyText(line, tag, capacity));
    if (text) {
        u32 textLength = TextLength(text);
        if (textLength >= capacity - length - 1)
            return 0;
        line[length++] = ' ';
        CopyText(line + length, text, capacity - length);
        length += textLength;
    }
    line[length++] = '\r';
    line[length++] = '\n';
    return WriteRaw(line, length);
}

// Ends the worker: the log cannot hold what the install wrote.
static void LogFailed()
{
    AbortWorker(MSG_WRITE_ERROR, logName);
}

// tag followed by a blank at line's start: the rest, else 0.
static const char* Field(const char* line, const char* tag)
{
    while (*tag && *line == *tag)
        line++, tag++;
    return !*tag && *line == ' ' ? line + 1 : 0;
}

// The earlier log's next line at or after *at (lines are NUL-ended in place), or 0.
static const char* NextLine(u32* at)
{
    while (*at < earlierSize && !earlier[*at])
        (*at)++;
    if (*at >= earlierSize)
        return 0;
    const char* line = earlier + *at;
    *at += TextLength(line) + 1;
    return line;
}

static void DropEarlier()
{
    if (char* copy = Taken(&earlier))
        PlatFree(copy);
    earlierSize = 0;
}

// Reads the log an earlier install of this id left here, its lines NUL-ended in place;
// a log that cannot be read, or is another product's, counts as none.
static void ReadEarlier(const char* id)
{
    FileHandle file = PlatOpenRead(logName);
    if (!file)
        return;
    u32 size = PlatFileSize(file);
    int ok = 1;
    char* copy = size < 0x40000000 ? (char*)PlatAlloc(size + 1) : 0;
    if (copy && (PlatRead(file, copy, size, &ok) != size || !ok)) {
        PlatFree(copy);
        copy = 0;
    }
    PlatClose(file);
    if (!copy)
        return;
    earlier = copy;
    earlierSize = size;
    for (u32 i = 0; i < size; i++)
        if (copy[i] == '\r' || copy[i] == '\n')
            copy[i] = 0;
    // The mark, when there, is passed (the copy ends in a NUL, which none of its bytes is).
    u32 at = InstallLogSameFolded(copy, logStart, 3) ? 3 : 0;
    const char* magic = NextLine(&at);
    const char* idLine = NextLine(&at);
    const char* value = idLine ? Field(idLine, "id") : 0;
    // A second line means a first one.
    if (!value || !InstallLogSameFolded(magic, logStart + 3, 0) || !InstallLogSameFolded(value, id, 0))
        DropEarlier();
}

// The tags of the entries an upgrade carries into its own log.
static int Carried(const char* line)
{
    static const char* const tags[] = {"folder", "file", "shortcut", "group-folder", "dde-group"};
    for (u32 i = 0; i < sizeof(tags) / sizeof(tags[0]); i++)
        if (Field(line, tags[i]))
            return 1;
    return 0;
}

int InstallLogOpen(const InstallLogHead* head)
{
    // Both values or no log; an id copied before the program is found missing is read by
    // nobody.
    const char* stored = ExtensionValue(KEY_UNINSTALL_ID);
    if (!stored)
        return 0;
    ArchiveText(stored, idText);
    stored = ExtensionValue(KEY_UNINSTALL_PROGRAM);
    if (!stored)
        return 0;
    ArchiveText(stored, programText);
    const char* id = idText;
    const char* program = programText;
    InstallLogName(program, logName);
    logWalk.path[0] = 0;
    logWalk.aboveTop = 0;
    ReadEarlier(id);
    u32 levels = head->createdLevels;
    u32 at = 0;
    for (const char* line; (line = NextLine(&at)) != 0;)
        if (Field(line, "created") && ExtensionNumber(Field(line, "created")) > levels)
            levels = ExtensionNumber(Field(line, "created"));

    // Replaced whole: an upgrade's entries are carried over from the copy just read.
    logWalk.file = PlatCreateOutput(logName);
    static char key[TEXT_SIZE], number[12];
    number[0] = 0;
    // Each step goes on from the text the last returned, not from the buffer's address.
    char* text = CopyText(key, head->keyRoot);
    text = AppendText(text, " ");
    text = AppendText(text, UNINSTALL_KEY_PATH);
    AppendText(text, id);
    AppendNumber(number, levels, sizeof(number));
    // The magic line and the head's lines by one loop over two tables, not a call each;
    // the directory is the one text not known before the call.
    enum { HEAD_DIRECTORY = 5 };
    static const char* const headTags[] = {logStart, "id", "title", "program", "key", "directory", "created"};
    static const char* const headTexts[] = {0, idText, productTitle, programText, key, 0, number};
    // The first line that cannot be written ends the log: the file could not be made, or
    // not written to.
    int failure = logWalk.file ? MSG_WRITE_ERROR : MSG_CANT_OPEN_FILE;
    for (u32 i = 0; i < sizeof(headTags) / sizeof(headTags[0]); i++)
        if (!InstallLogEntry(headTags[i], i == HEAD_DIRECTORY ? head->directory : headTexts[i]))
            goto done;
    for (u32 textId = 200; textId < 300; textId++) {
        const char* text = ExtensionText(textId);
        if (!text)
            continue;
        // The id's three digits and a blank, then the text: shorter than a stored text,
        // it always fits a TEXT_SIZE buffer.
        char line[TEXT_SIZE + 8];
        line[0] = 0;
        AppendNumber(line, textId, sizeof(line))[3] = ' ';
        if (TextLength(text) >= STORED_TEXT_SIZE || (!ArchiveText(text, line + 4) && text[0]) ||
            !InstallLogEntry("text", line))
            goto done;
    }
    at = 0;
    for (const char* line; (line = NextLine(&at)) != 0;)
        if (Carried(line) && (!WriteRaw(line, TextLength(line)) || !WriteRaw("\r\n", 2)))
            goto done;
    failure = 0;
done:
    CopyText(detailText, logName);
    return failure;
}

// The path of the current record's name in the walk's folder, from the install directory;
// 0 when it is too long.
static int WalkPathOf(char* path)
{
    const char* name = context.entryName;
    CopyText(path, logWalk.path, INSTALL_LOG_PATH_SIZE);
    if (path[0])
        AppendText(path, "\\", INSTALL_LOG_PATH_SIZE);
    u32 length = TextLength(path);
    if (length + TextLength(name) + 1 > INSTALL_LOG_PATH_SIZE)
        return 0;
    AppendText(path, name, INSTALL_LOG_PATH_SIZE);
    return 1;
}

static const char HEX[] = "0123456789ABCDEF";

void InstallLogRecord(const RecordHeader* record, u32 size, int created)
{
    LogWalk& walk = *Held(&logWalk);
    if (!walk.file)
        return;
    u8 type = record->type;
    if (type == RECORD_UP) {
        // Above the top the walk writes outside the install directory, which no uninstall
        // may reach: nothing there is listed.
        if (!walk.path[0])
            walk.aboveTop++;
        // Cut at the last backslash, or to nothing when there is none.
        char* cut = walk.path;
        for (char* p = walk.path; *p; p++)
            if (*p == '\\')
                cut = p;
        *cut = 0;
        return;
    }
    // One line for each kind; the end record's is the tag alone, wherever the walk is.
    const char* tag = "complete";
    const char* text = 0;
    char line[INSTALL_LOG_PATH_SIZE + 32];
    if (type != RECORD_END) {
        if (walk.aboveTop) {
            if (type == RECORD_DIRECTORY)
                walk.aboveTop++;  // undone by its up record
            return;
        }
        if (type == RECORD_DIRECTORY) {
            // The walk's folder extended in place (its copy into itself changes nothing).
            if (!WalkPathOf(walk.path))
                LogFailed();
            if (!created)
                return;
            tag = "folder";
            text = walk.path;
        } else {
            // A file record. The size, the time and the path, which is built in place:
            // the 28 bytes before it at most leave it its INSTALL_LOG_PATH_SIZE.
            line[0] = 0;
            AppendNumber(line, size, sizeof(line));
            u32 length = TextLength(line);
            line[length++] = ' ';
            // The time's 16 digits, the last first.
            u64 time = record->fileTime;
            for (u32 digit = 16; digit--; time >>= 4)
                line[length + digit] = HEX[time & 15];
            length += 16;
            line[length++] = ' ';
            if (!WalkPathOf(line + length))
                LogFailed();
            tag = "file";
            text = line;
        }
    }
    if (!InstallLogEntry(tag, text))
        LogFailed();
}

int InstallLogListed()
{
    char path[INSTALL_LOG_PATH_SIZE];
    if (!earlier || logWalk.aboveTop || !WalkPathOf(path))
        return 0;
    u32 at = 0;
    for (const char* line; (line = NextLine(&at)) != 0;) {
        const char* rest = Field(line, "file");
        // Past the size and the time to the path.
        for (int blanks = 0; rest && *rest && blanks < 2; rest++)
            if (*rest == ' ')
                blanks++;
        if (rest && InstallLogSameFolded(rest, path, 0))
            return 1;
    }
    return 0;
}

void InstallLogClose()
{
    if (FileHandle file = Taken(&logWalk.file))
        PlatClose(file);
    DropEarlier();
}
