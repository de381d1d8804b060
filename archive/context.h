// The install context: the one process-wide record of archive, volume, install-directory
// and extraction state, with the archive-side text buffers beside it. Zero-filled by
// OpenArchive. The main thread and the worker share it without locks; while the worker
// runs the main thread leaves the worker's fields alone.
#ifndef QUILL_ARCHIVE_CONTEXT_H
#define QUILL_ARCHIVE_CONTEXT_H

#include "format.h"
#include "platform.h"

struct InstallContext {
    u32 embedded;                // 1: the archive is appended to the program file at 0xE000
    u32 programFileSize;         // size of the program file in bytes, without a signature's table
    char* stringBlock;           // heap copy of the string block plus one guard NUL; 0 when none
    ArchiveHeader header;        // as read from the archive
    FileHandle volumeHandle;     // the open volume; 0 when none is open
    u32 createGroup;             // "Create folder" was checked when the directory was confirmed
    u32 volumeNumber;            // current volume, from 1
    WindowHandle progressDialog; // owner of the worker's prompts; 0 before the dialog exists
    u32 volumeRemaining;         // bytes of the current volume not yet taken into readBuffer
    u8* readBuffer;              // STREAM_BUFFER_SIZE bytes of volume input; 0 when released
    u32 readPos;                 // next byte of readBuffer to deliver
    u32 readFill;                // valid bytes in readBuffer; readPos <= readFill <= 0xFFFF
    FileHandle outputHandle;     // the file being written; 0 when none is open
    u32 bytesDone;               // sum of the uncompressed sizes of the finished files
    u8* outputBuffer;            // STREAM_BUFFER_SIZE bytes of decoder output; 0 when released
    // The texts last: the fields before them stay within a byte's offset of the context's
    // address, where the code reaches them through a register.
    char entryName[TEXT_SIZE];   // name of the current file or directory record
    char installDir[TEXT_SIZE];  // install directory: the default, then the user's choice
};

extern InstallContext context;

extern char programDir[TEXT_SIZE];       // program file's directory, no trailing backslash
extern char firstVolumePath[TEXT_SIZE];  // volume 1: the program file or the disk1.pak found
extern char archiveDir[TEXT_SIZE];       // where volumes 2, 3, ... are looked for
extern char productTitle[TEXT_SIZE];     // string block entry 1
extern char windowTitle[TEXT_SIZE];      // string block entry 2
// The detail text: the path or name a worker failure concerns, read by the progress
// dialog after the worker has ended; also the worker's scratch buffer for status texts.
extern char detailText[TEXT_SIZE];

// Releases the string block (program end).
void FreeStringBlock();

#endif
