#include "worker.h"

#include "../archive/abort.h"
#include "../archive/archive.h"
#include "../archive/commands.h"
#include "../archive/context.h"
#include "../archive/held.h"
#include "../archive/messages.h"
#include "../archive/text.h"
#include "../archive/volume.h"
#include "install_log.h"
#include "lzari.h"


// Damage in the record stream: message 119 with the current volume's name, volume 1 by
// its path, later ones as the file disk<N>.pak in the program's directory.
__attribute__((noreturn)) static void RefuseStructure()
{
    if (context.volumeNumber == 1)
        CopyText(detailText, firstVolumePath);
    else
        VolumePath(programDir, context.volumeNumber, detailText);
    AbortWorker(MSG_WRONG_STRUCTURE, 0);
}

static void ReadName(const RecordHeader* record)
{
    // Names longer than the buffer are damage: refused before a byte lands past it.
    if (record->nameLength > MAX_NAME_LENGTH)
        RefuseStructure();
    char stored[STORED_TEXT_SIZE];
    if (record->nameLength)
        ReadStream(record->nameLength, stored);
    stored[record->nameLength] = 0;
    ArchiveText(stored, context.entryName);
}

u32 ExtractFile(InstallContext* install, const RecordHeader* record)
{
    install = Held(install);
    ResetDecoder(install);
    if (!PlatFullPath(install->entryName, detailText))
        CopyText(detailText, install->entryName);
    PlatSetControlText(CONTROL_STATUS_LINE, detailText);
    FileHandle file = PlatCreateOutput(install->entryName);
    // An upgrade replaces what the earlier install wrote, read-only or hidden as it may be.
    if (!file && InstallLogListed()) {
        PlatSetAttributes(install->entryName, ATTRIBUTE_NORMAL);
        file = PlatCreateOutput(install->entryName);
    }
    if (!file)
        AbortWorker(MSG_CANT_OPEN_FILE, install->entryName);
    install->outputHandle = file;
    u32 size = DecodeFile();

    // Skip the zero padding: z leading zero bytes of the next four are consumed, the
    // first nonzero byte (the next record's type) is given back. StepBack's own check is
    // not needed: the four bytes just delivered lie before readPos.
    u8 next[PADDING_SIZE];
    ReadStream(PADDING_SIZE, next);
    u32 zeros = 0;
    while (zeros < PADDING_SIZE && next[zeros] == 0)
        zeros++;
    install->readPos -= PADDING_SIZE - zeros;

    PlatSetFileTime(file, record->fileTime);
    install->outputHandle = 0;
    PlatClose(file);
    PlatSetAttributes(install->entryName, record->attributes);
    install->bytesDone += size;
    PlatBarCommand(BAR_SETPOS, install->bytesDone);
    return size;
}

// Message 15 with the command (in detailText).
static void TellCommandFailed()
{
    FormatArgument command;  // a text alone: %s reads no number
    command.text = detailText;
    ShowAttention(MSG_CANT_RUN_PROCESS, &command, BOX_ICON_INFORMATION);
}

// A message as a control's text of the progress dialog, looked up into detailText.
static void SetControlMessage(u32 control, int id)
{
    PlatSetControlText(control, LookupMessage(id, detailText, TEXT_SIZE));
}

u32 ExtractionWorker(void*)
{
    InstallContext& x = *Held(&context);
    PlatSetControlText(CONTROL_STATUS_LINE, "");
    SetControlMessage(CONTROL_ACTION_BUTTON, MSG_BREAK);
    PlatBarCommand(BAR_SETMIN, 0);
    PlatBarCommand(BAR_SETMAX, x.header.totalSize);
    x.volumeNumber = 1;
    u8* output = (u8*)PlatAlloc(STREAM_BUFFER_SIZE);
    u8* input = (u8*)PlatAlloc(STREAM_BUFFER_SIZE);
    // The buffer's position and fill, like bytesDone, are 0 from the opening's clearing
    // of the context: the worker runs once for each opening.
    x.outputBuffer = output;
    x.readBuffer = input;
    if (!output || !input)
        AbortWorker(MSG_SYSTEM_ERROR, 0);
    OpenVolume(firstVolumePath);
    if (x.embedded)
        x.volumeRemaining = x.programFileSize;  // a signature's table is no volume

    u32 offset = (x.embedded ? ARCHIVE_OFFSET : 0) + ARCHIVE_HEADER_SIZE +
                 x.header.stringBlockSize;
    if (!PlatSeek(x.volumeHandle, offset) || offset > x.volumeRemaining)
        AbortWorker(MSG_READ_ERROR, firstVolumePath);
    x.volumeRemaining -= offset;
    int failure = PlatInstallStarting();
    if (failure)
        AbortWorker(failure, 0);

    for (;;) {
        WorkerSafePoint();
        PlatRecordStart();
        RecordHeader record;
        ReadStream(RECORD_HEADER_SIZE, &record);
        u32 size = 0;
        int created = 0;
        if (record.type == RECORD_FILE) {
            ReadName(&record);
            size = ExtractFile(&x, &record);
        } else if (record.type == RECORD_DIRECTORY) {
            ReadName(&record);
            created = PlatCreateDirectory(x.entryName);
            if (!PlatSetCurrentDirectory(x.entryName))
                AbortWorker(MSG_CANT_OPEN_DIRECTORY, x.entryName);
        } else if (record.type == RECORD_UP) {
            if (!PlatSetCurrentDirectory(".."))
                AbortWorker(MSG_CANT_OPEN_DIRECTORY, "..");
        } else if (record.type != RECORD_END) {
            RefuseStructure();
        }
        InstallLogRecord(&record, size, created);
        PlatRecordDone(&record, size);
        if (record.type == RECORD_END)
            break;
    }

    ReleaseWorkerResources();
    const char* command = StringBlockEntry(0, ENTRY_POST_INSTALL);
    PlatArchiveText(command, detailText, TEXT_SIZE);
    // A command longer than a stored text may be is damage: it is reported, never run.
    if (command[0] && (TextLength(command) >= STORED_TEXT_SIZE || !PlatStartProcess(detailText)))
        TellCommandFailed();
    PlatPostCreateGroup();
    SetControlMessage(CONTROL_STATUS_LINE, MSG_INSTALL_COMPLETE);
    SetControlMessage(CONTROL_ACTION_BUTTON, MSG_OK);
    return 0;
}
