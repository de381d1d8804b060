// Volume input: the record stream read as one byte stream across disk1.pak, disk2.pak, ...
// through one 65535-byte buffer. Runs on the worker thread (AskForVolume also at start-up).
#ifndef QUILL_ARCHIVE_VOLUME_H
#define QUILL_ARCHIVE_VOLUME_H

#include "format.h"

// Delivers the next count bytes (1..STREAM_BUFFER_SIZE, in practice at most 255) into
// destination, or only consumes them when destination is 0, and returns the last one.
// Refills from the current volume, opening further volumes as they are used up. A short
// read ends the worker with MSG_READ_ERROR, a count outside 1..STREAM_BUFFER_SIZE with
// MSG_SYSTEM_ERROR.
u8 ReadStream(u32 count, void* destination);

// Gives back the last k bytes delivered (k at most the latest request's count); the next
// request delivers them again. More than was delivered ends the worker with MSG_SYSTEM_ERROR.
void StepBack(u32 k);

// Makes a volume current: path names volume 1; 0 means the next volume in archiveDir. Asks
// the user for a missing volume; ends the worker with MSG_CANT_OPEN_FILE when they give up.
void OpenVolume(const char* path);

// Shows the open-file dialog for volume n (owner: the progress dialog, if any). path has
// TEXT_SIZE bytes and receives the chosen file's full path. Nonzero when a file was chosen.
int AskForVolume(u32 n, char* path);

enum { VOLUME_NAME_SIZE = 20 };  // "disk", ten digits, ".pak", terminator
// "disk%i.pak" for volume n, into destination (VOLUME_NAME_SIZE bytes or more).
char* VolumeFileName(u32 n, char* destination);
// "%s\disk%i.pak" from directory (one trailing backslash dropped) and n.
char* VolumePath(const char* directory, u32 n, char* destination);

#endif
