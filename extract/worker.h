// The extraction worker: walks the record stream, writes directories and files in the
// current directory, starts the post-install command. Runs on its own thread; every
// failure ends the thread through AbortWorker with a message id as exit code.
#ifndef QUILL_EXTRACT_WORKER_H
#define QUILL_EXTRACT_WORKER_H

#include "../archive/abort.h"
#include "../archive/format.h"

struct InstallContext;

// Thread entry; parameter unused. Returns 0 when the record stream was unpacked to its end.
u32 ExtractionWorker(void* parameter);
// Writes one file record whose name is in install->entryName. Returns the bytes written.
u32 ExtractFile(InstallContext* install, const RecordHeader* record);

#endif
