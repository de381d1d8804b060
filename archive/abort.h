// Ending the extraction with a message. It lives here, beside the seam, because the volume
// input and the decoder give up as the worker does, and none of them may reach up into
// the worker for it: every layer above includes this, this includes nothing above.
#ifndef QUILL_ARCHIVE_ABORT_H
#define QUILL_ARCHIVE_ABORT_H

#include "format.h"

// Ends the worker: keeps the detail (when given), closes the handles, releases the
// buffers, tells the progress dialog and ends the thread with the message id.
#if defined(__GNUC__)
__attribute__((noreturn))
#endif
void AbortWorker(int messageId, const char* detail);

// Ends the worker after a confirmed break or a close request: releases what it holds and
// ends the thread with WORKER_BROKEN, without telling the dialog, which has ended itself.
#if defined(__GNUC__)
__attribute__((noreturn))
#endif
void BreakWorker();

// A safe point of the worker (PlatWorkerSafePoint): ends it with BreakWorker when a break
// was confirmed or the dialog asked it to close.
void WorkerSafePoint();

// The field's value, 0 left in its place by the same instruction: what is released this
// way is released once, whoever else takes it meanwhile.
template <typename T> __attribute__((always_inline)) inline T Taken(T* field)
{
    return __atomic_exchange_n(field, (T)0, __ATOMIC_SEQ_CST);
}

// Releases whatever handles and buffers the install context still holds, marking each
// released at once, so that no release happens twice whoever calls it.
void ReleaseWorkerResources();

#endif
