#include "abort.h"

#include "context.h"
#include "held.h"
#include "messages.h"
#include "text.h"

// Each release marks the field released before the call, so that a second caller (the
// worker's own end racing the interface's break) skips it.
void ReleaseWorkerResources()
{
    InstallContext& x = *Held(&context);
    if (FileHandle output = Taken(&x.outputHandle))
        PlatClose(output);
    if (FileHandle volume = Taken(&x.volumeHandle))
        PlatClose(volume);
    if (u8* readBuffer = Taken(&x.readBuffer))
        PlatFree(readBuffer);
    if (u8* outputBuffer = Taken(&x.outputBuffer))
        PlatFree(outputBuffer);
}

void AbortWorker(int messageId, const char* detail)
{
    if (detail)
        CopyText(detailText, detail);
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
