#include "abort.h"

#include "context.h"
#include "messages.h"
#include "text.h"

// Each release marks the field released before the call, so that a second caller (the
// worker's own end racing the interface's break) skips it.
void ReleaseWorkerResources()
{
    FileHandle output = context.outputHandle;
    context.outputHandle = 0;
    if (output)
        PlatClose(output);
    FileHandle volume = context.volumeHandle;
    context.volumeHandle = 0;
    if (volume)
        PlatClose(volume);
    u8* readBuffer = context.readBuffer;
    context.readBuffer = 0;
    if (readBuffer)
        PlatFree(readBuffer);
    u8* outputBuffer = context.outputBuffer;
    context.outputBuffer = 0;
    if (outputBuffer)
        PlatFree(outputBuffer);
}

void AbortWorker(int messageId, const char* detail)
{
    if (detail)
        CopyText(detailText, detail, TEXT_SIZE);
    ReleaseWorkerResources();
    PlatNotifyWorkerAborted();
    PlatExitWorker((u32)messageId);
}

// Kept whole: the decoder's safe point calls it too.
__attribute__((noinline)) void BreakWorker()
{
    ReleaseWorkerResources();
    PlatExitWorker(WORKER_BROKEN);
}

void WorkerSafePoint()
{
    if (PlatWorkerSafePoint())
        BreakWorker();
}
