#include "volume.h"

#include "abort.h"
#include "context.h"
#include "held.h"
#include "messages.h"
#include "text.h"

char* VolumeFileName(u32 n, char* destination)
{
    return FormatWithNumber(destination, VOLUME_NAME_SIZE, "disk%u.pak", n);
}

char* VolumePath(const char* directory, u32 n, char* destination)
{
    char name[VOLUME_NAME_SIZE];
    DropTrailingBackslash(CopyText(destination, directory));
    AppendText(destination, "\\");
    return AppendText(destination, VolumeFileName(n, name));
}

int AskForVolume(u32 n, char* path)
{
    // Filter: "Archive Files (diskN.pak)|diskN.pak|" (a volume's name has no '|').
    char name[VOLUME_NAME_SIZE];
    char filter[2 * VOLUME_NAME_SIZE + 24];
    VolumeFileName(n, name);
    FormatArgument names[2];  // texts alone: %s reads no number
    names[0].text = names[1].text = name;
    FormatText(filter, sizeof(filter), "Archive Files (%s)|%s|", names, 2);
    CopyText(path, name);
    return PlatOpenFileDialog(context.progressDialog, filter, path, "pak");
}

// The prompt for floppy disk n; nonzero when the user says it is in.
static int AskForDisk(u32 n)
{
    FormatArgument volume = {0, n};
    return ShowAttention(MSG_INSERT_DISK, &volume, BOX_OK_CANCEL) == ANSWER_OK;
}

// Back to the directory OpenVolume found (the open-file dialog may change it); none when
// it could not be read.
static __attribute__((noinline)) void RestoreDirectory(const char* saved)
{
    if (saved[0])
        PlatSetCurrentDirectory(saved);
}

void OpenVolume(const char* path)
{
    InstallContext& x = *Held(&context);
    char savedDirectory[TEXT_SIZE];
    char candidate[TEXT_SIZE];
    if (!PlatGetCurrentDirectory(savedDirectory, TEXT_SIZE))
        savedDirectory[0] = 0;
    if (path) {
        CopyText(candidate, path);
    } else {
        x.volumeNumber++;
        VolumePath(archiveDir, x.volumeNumber, candidate);
    }
    if (FileHandle old = Taken(&x.volumeHandle))
        PlatClose(old);
    FileHandle file;
    for (;;) {
        file = PlatOpenRead(candidate);
        LowerText(candidate);
        if (file)
            break;
        if ((candidate[0] == 'a' || candidate[0] == 'b') && AskForDisk(x.volumeNumber))
            continue;
        // A close request that ended the prompt (or a break asked for meanwhile) is taken
        // here, before another dialog waits for somebody who is not there.
        WorkerSafePoint();
        char chosen[TEXT_SIZE];
        if (!AskForVolume(x.volumeNumber, chosen)) {
            WorkerSafePoint();
            // The dialog's initial file name: the volume's bare name.
            RestoreDirectory(savedDirectory);
            AbortWorker(MSG_CANT_OPEN_FILE, VolumeFileName(x.volumeNumber, chosen));
        }
        DirectoryOfPath(chosen, archiveDir);
        CopyText(candidate, chosen);
    }
    x.volumeHandle = file;
    x.volumeRemaining = PlatFileSize(file);
    RestoreDirectory(savedDirectory);
}

static void FailRead()
{
    char name[VOLUME_NAME_SIZE];
    if (context.volumeNumber == 1)
        AbortWorker(MSG_READ_ERROR, firstVolumePath);
    AbortWorker(MSG_READ_ERROR, VolumeFileName(context.volumeNumber, name));
}

// Entry: readPos <= readFill <= STREAM_BUFFER_SIZE. Return: the count bytes delivered lie
// together in readBuffer just before readPos, so StepBack can give them back.
u8 ReadStream(u32 count, void* destination)
{
    // The format asks for 255 bytes at most; a longer request would run past the buffer.
    // Checked in every build, the installer's too: a fault ends the worker, never memory.
    if (count < 1 || count > STREAM_BUFFER_SIZE)
        AbortWorker(MSG_SYSTEM_ERROR, 0);
    u8* buffer = context.readBuffer;
    u32 pos = context.readPos;
    u32 avail = context.readFill - pos;
    if (avail < count) {
        u32 held = avail;
        for (u32 i = 0; i < held; i++)
            buffer[i] = buffer[pos + i];
        while (held < count) {
            if (context.volumeRemaining == 0)
                OpenVolume(0);
            u32 n = STREAM_BUFFER_SIZE - held;
            if (n > context.volumeRemaining)
                n = context.volumeRemaining;
            int ok = 1;
            if (n && PlatRead(context.volumeHandle, buffer + held, n, &ok) != n)
                ok = 0;
            if (!ok)
                FailRead();
            held += n;
            context.volumeRemaining -= n;
        }
        context.readFill = held;
        pos = 0;
    }
    u8* from = buffer + pos;
    if (destination) {
        u8* to = (u8*)destination;
        for (u32 i = 0; i < count; i++)
            to[i] = from[i];
    }
    context.readPos = pos + count;
    return from[count - 1];
}

void StepBack(u32 k)
{
    if (k > context.readPos)
        AbortWorker(MSG_SYSTEM_ERROR, 0);
    context.readPos -= k;
}
