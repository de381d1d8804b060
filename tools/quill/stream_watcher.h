// Following the worker through a walk: the host reports each record once the worker has
// handled it and calls the safe points between records and inside payloads. The watcher
// turns that into ArchiveRecords, checks them, and says why a walk stopped.
#ifndef QUILL_TOOLS_STREAM_WATCHER_H
#define QUILL_TOOLS_STREAM_WATCHER_H

#include <map>
#include <string>
#include <vector>

#include "archive/format.h"
#include "reader.h"

class StreamWatcher {
public:
    // root: the folder the worker writes in, "" when it writes nothing.
    StreamWatcher(ArchiveReader& reader, const WalkSettings& settings, const std::string& root)
        : reader_(reader), settings_(settings), writes_(!root.empty())
    {
        Level level;
        level.diskPath = root;
        levels_.push_back(level);
    }

    // The host's recordStart: the worker is about to read the next record.
    void RecordStart();
    // The host's recordDone: the worker has handled a record (size: a file's size).
    void RecordDone(const RecordHeader& header, u32 size);
    // The safe point: true ends the worker (as a break).
    bool SafePoint();
    // After the worker has ended with code: the record it was in, and the closing checks.
    void Finish(u32 code);

    WalkResult result;

private:
    struct Level {
        std::string stored;    // the directory record's name
        std::string diskPath;  // native path of the folder; "" when nothing is written
        std::map<std::string, bool> names;  // case-folded names met here -> is a folder
    };

    enum StopKind { RUNNING, STOP_DAMAGE, STOP_IO, STOP_INTERRUPT };

    // Ends the walk at the next safe point; the first reason given is the one reported.
    // Returns true, for the safe point to pass on.
    bool Stop(StopKind kind, const std::string& message);
    // The stored names from the root to name, "/" between them.
    std::string StoredPath(const std::string& name) const;
    // "record N at VOLUME offset X": the record being read and where it starts.
    std::string RecordWhere() const;
    // A stored name or text as a message shows it.
    std::string Shown(const std::string& stored) const;
    // The name a record gets on disk: UTF-8 when extracting, else as stored.
    std::string DiskName(const std::string& stored);

    bool NameMet(const std::string& stored, bool folder);
    void FileDone(const RecordHeader& header, u32 size);
    void DirectoryDone();
    bool PlaceFile(ArchiveRecord& record);
    bool PlaceDirectory(Level& level);
    void Emit(ArchiveRecord& record);

    ArchiveReader& reader_;
    const WalkSettings& settings_;
    bool writes_;                 // the worker writes files (extract, verify)
    std::vector<Level> levels_;   // [0] the target; one per directory record entered
    bool inRecord_ = false;       // between a record's start and its end
    u32 recordIndex_ = 0;         // the record being read, from 1
    u32 recordVolume_ = 1;        // where it starts
    u64 recordOffset_ = 0;
    u64 sizeSum_ = 0;             // sizes of the files walked
    StopKind stop_ = RUNNING;
    std::string stopMessage_;
    std::string damagedFile_;     // a file to remove: written whole but wrong
};

#endif
