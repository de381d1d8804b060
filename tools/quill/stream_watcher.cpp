#include "stream_watcher.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/commands.h"
#include "archive/context.h"
#include "archive/messages.h"
#include "host/native_host.h"
#include "codepage.h"
#include "extract/lzari.h"
#include "files.h"
#include "pe/image.h"
#include "quill.h"

bool StreamWatcher::Stop(StopKind kind, const std::string& message)
{
    if (stop_ == RUNNING) {
        stop_ = kind;
        stopMessage_ = message;
    }
    return true;
}

std::string StreamWatcher::StoredPath(const std::string& name) const
{
    std::string path;
    for (size_t i = 1; i < levels_.size(); i++)
        path += levels_[i].stored + "/";
    return path + name;
}

std::string StreamWatcher::RecordWhere() const
{
    return "record " + std::to_string(recordIndex_) + " at " +
           reader_.Where(recordVolume_, recordOffset_);
}

std::string StreamWatcher::Shown(const std::string& stored) const
{
    if (!settings_.codePage)
        return Printable(stored);
    std::string text;
    settings_.codePage->Decode(stored, text);
    return text;
}

std::string StreamWatcher::DiskName(const std::string& stored)
{
    if (!settings_.renameToUtf8 || !settings_.codePage)
        return stored;
    std::string text;
    if (!settings_.codePage->Decode(stored, text)) {
        result.warnings.push_back(Printable(StoredPath(stored)) + ": not all of the name is in code page " +
                                  std::to_string(settings_.codePage->Number()) + "; kept as stored");
        return stored;
    }
    return text;
}

void StreamWatcher::Emit(ArchiveRecord& record)
{
    record.index = recordIndex_;
    record.volume = recordVolume_;
    record.offset = recordOffset_;
    result.records++;
    std::string problem = settings_.onRecord ? settings_.onRecord(record) : "";
    if (!problem.empty())
        Stop(STOP_DAMAGE, RecordWhere() + ": " + problem);
}

// Windows would meet a second name of a folder in its own way: the same folder entered
// again is fine, a file replaces a file, a file and a folder of one name cannot be.
bool StreamWatcher::NameMet(const std::string& stored, bool folder)
{
    std::string shown = Shown(stored);
    auto [at, fresh] = levels_.back().names.emplace(FoldCase(shown), folder);
    if (fresh || (at->second && folder))
        return true;
    if (at->second != folder)
        return Stop(STOP_DAMAGE, RecordWhere() + ": \"" + Shown(StoredPath(stored)) +
                                     "\" names both a file and a folder"), false;
    result.warnings.push_back(RecordWhere() + ": the file \"" + Shown(StoredPath(stored)) +
                              "\" comes twice; the later one replaces the earlier");
    return true;
}

// Names are converted to UTF-8 on extraction; upper-half characters take two or three
// bytes, so a name the archive may hold can outgrow what this system holds.
static std::string TooLong(const std::string& name)
{
    return "takes " + std::to_string(name.size()) + " bytes in UTF-8; a name holds at most 255 here";
}

bool StreamWatcher::PlaceFile(ArchiveRecord& record)
{
    const std::string& dir = levels_.back().diskPath;
    std::string name = DiskName(record.name);
    if (name == record.name)
        return true;
    std::string from = dir + "/" + record.name;
    std::string to = dir + "/" + name;
    if (name.size() > MAX_NAME_LENGTH) {
        unlink(from.c_str());
        return Stop(STOP_DAMAGE, RecordWhere() + ": refused: \"" + Shown(record.path) + "\" " + TooLong(name)), false;
    }
    struct stat info;
    if (lstat(to.c_str(), &info) == 0) {
        if (!settings_.overwrite) {
            unlink(from.c_str());
            record.kept = true;
            record.diskPath = to;
            return true;
        }
        if (S_ISDIR(info.st_mode))
            return Stop(STOP_IO, RecordWhere() + ": cannot replace the folder " + to + " with a file"), false;
    }
    if (rename(from.c_str(), to.c_str()) != 0)
        return Stop(STOP_IO, "cannot rename " + from + " to " + to + ": " + strerror(errno)), false;
    record.diskPath = to;
    return true;
}

bool StreamWatcher::PlaceDirectory(Level& level)
{
    const std::string& parent = levels_.back().diskPath;
    // A directory record enters a new folder inside the one before, nowhere else.
    struct stat up, here;
    if (stat("..", &up) != 0 || stat(parent.c_str(), &here) != 0 || up.st_dev != here.st_dev ||
        up.st_ino != here.st_ino)
        return Stop(STOP_DAMAGE, RecordWhere() + ": refused: the folder record \"" + Shown(level.stored) +
                                     "\" leads out of the folder it is in"), false;
    std::string name = DiskName(level.stored);
    level.diskPath = parent + "/" + name;
    if (name == level.stored)
        return true;
    std::string from = parent + "/" + level.stored;
    if (name.size() > MAX_NAME_LENGTH) {
        rmdir(from.c_str());  // the worker has just made it and is inside: it is empty
        return Stop(STOP_DAMAGE, RecordWhere() + ": refused: \"" + Shown(StoredPath(level.stored)) + "\" " +
                                     TooLong(name)), false;
    }
    struct stat info;
    if (lstat(level.diskPath.c_str(), &info) == 0) {
        // The folder is there from an earlier record or run: the worker goes on in it.
        if (S_ISLNK(info.st_mode))
            return Stop(STOP_DAMAGE, RecordWhere() + ": refused: " + level.diskPath + " is a symbolic link"), false;
        if (!S_ISDIR(info.st_mode))
            return Stop(STOP_IO, RecordWhere() + ": cannot create the folder " + level.diskPath +
                                     ": a file of that name exists"), false;
        if (chdir(level.diskPath.c_str()) != 0)
            return Stop(STOP_IO, "cannot enter " + level.diskPath + ": " + strerror(errno)), false;
        rmdir(from.c_str());  // only if the worker just made it empty
    } else if (rename(from.c_str(), level.diskPath.c_str()) != 0) {
        return Stop(STOP_IO, "cannot rename " + from + " to " + level.diskPath + ": " + strerror(errno)), false;
    }
    return true;
}

void StreamWatcher::FileDone(const RecordHeader& header, u32 size)
{
    ArchiveRecord record;
    record.kind = ArchiveRecord::FILE;
    record.name = context.entryName;
    record.path = StoredPath(record.name);
    record.attributes = header.attributes;
    record.fileTime = header.fileTime;
    record.size = size;
    record.decoded = DecodedCount();
    for (const HostEvent& event : Host().events)
        if (event.kind == HostEvent::KEPT)
            record.kept = true;
    if (writes_)
        record.diskPath = levels_.back().diskPath + "/" + record.name;
    sizeSum_ += size;
    if (!NameMet(record.name, false))
        return;
    if (record.decoded != size) {
        if (writes_ && !record.kept)
            damagedFile_ = record.diskPath;
        Stop(STOP_DAMAGE, RecordWhere() + " (file \"" + Shown(record.path) + "\"): the decoder produced " +
                              std::to_string(record.decoded) + " bytes where the record holds " +
                              std::to_string(size) + " (a damaged bit stream)");
        return;
    }
    if (size != 0 && LastInputByte() != 0) {
        if (writes_ && !record.kept)
            damagedFile_ = record.diskPath;
        Stop(STOP_DAMAGE, RecordWhere() + " (file \"" + Shown(record.path) +
                              "\"): the bit stream does not end in its zero padding (a damaged payload)");
        return;
    }
    if (sizeSum_ > reader_.Header().totalSize) {
        Stop(STOP_DAMAGE, RecordWhere() + " (file \"" + Shown(record.path) +
                              "\"): the files hold more than the header's total of " +
                              std::to_string(reader_.Header().totalSize) + " bytes");
        return;
    }
    if (record.kept)
        record.diskPath = levels_.back().diskPath + "/" + DiskName(record.name);
    else if (writes_ && !PlaceFile(record))
        return;
    if (record.kept)
        result.kept++;
    result.files++;
    result.bytes += size;
    Emit(record);
    if (writes_ && settings_.target.empty())
        unlink(record.diskPath.c_str());
}

void StreamWatcher::DirectoryDone()
{
    Level level;
    level.stored = context.entryName;
    if (!NameMet(level.stored, true))
        return;
    if (writes_ && !PlaceDirectory(level))
        return;
    ArchiveRecord record;
    record.kind = ArchiveRecord::DIRECTORY;
    record.name = level.stored;
    record.path = StoredPath(level.stored);
    record.diskPath = level.diskPath;
    levels_.push_back(level);
    result.directories++;
    Emit(record);
}

void StreamWatcher::RecordStart()
{
    inRecord_ = true;
    Host().events.clear();
    recordIndex_++;
    reader_.Position(recordVolume_, recordOffset_);
}

void StreamWatcher::RecordDone(const RecordHeader& header, u32 size)
{
    inRecord_ = false;
    std::string warned;  // a folder's name is checked when it is made and when it is entered
    for (const HostEvent& event : Host().events) {
        if (event.kind == HostEvent::REFUSED)
            Stop(STOP_DAMAGE, RecordWhere() + ": refused: " + Shown(event.text));
        if (event.kind == HostEvent::WARNED && stop_ == RUNNING && event.text != warned) {
            warned = event.text;
            result.warnings.push_back(RecordWhere() + ": " + Shown(event.text) + " (quill extract refuses it)");
            result.refusable++;
        }
    }
    if (stop_ != RUNNING)
        return;
    if (header.type == RECORD_FILE) {
        FileDone(header, size);
    } else if (header.type == RECORD_DIRECTORY) {
        DirectoryDone();
    } else if (header.type == RECORD_UP) {
        ArchiveRecord record;
        record.kind = ArchiveRecord::UP;
        record.path = StoredPath("");
        if (!record.path.empty())
            record.path.pop_back();
        record.diskPath = levels_.back().diskPath;
        if (levels_.size() > 1)
            levels_.pop_back();
        Emit(record);
    }
}

bool StreamWatcher::SafePoint()
{
    if (Interrupted())
        return Stop(STOP_INTERRUPT, "interrupted");
    for (const HostEvent& event : Host().events)
        if (event.kind == HostEvent::REFUSED)
            // A refused directory name may still have moved the worker (a name like "\tmp"
            // reads as a full path): stop before the next record can write anything.
            return Stop(STOP_DAMAGE, RecordWhere() + ": refused: " + Shown(event.text));
    if (stop_ != RUNNING)
        return true;
    // Inside a file's payload: a size field damaged upwards shows here, long before the
    // decoder would reach the end of its gigabytes.
    if (inRecord_ && (u64)Host().lastBarPosition > reader_.Header().totalSize)
        return Stop(STOP_DAMAGE, RecordWhere() + " (file \"" + Shown(StoredPath(context.entryName)) +
                                     "\"): the file decodes past the header's total of " +
                                     std::to_string(reader_.Header().totalSize) + " bytes");
    return false;
}

void StreamWatcher::Finish(u32 code)
{
    const std::vector<HostEvent>& events = Host().events;
    int status = -1, refused = -1;
    bool kept = false, askedForVolume = false;
    for (size_t i = 0; i < events.size(); i++) {
        const HostEvent& event = events[i];
        if (event.kind == HostEvent::CONTROL_TEXT && event.id == CONTROL_STATUS_LINE && !event.text.empty())
            status = (int)i;
        else if (event.kind == HostEvent::KEPT)
            kept = true;
        else if (event.kind == HostEvent::REFUSED && refused < 0)
            refused = (int)i;
        else if (event.kind == HostEvent::OPEN_FILE && !event.value)
            askedForVolume = true;
    }
    std::string current = Shown(StoredPath(context.entryName));
    // The record the worker stopped in: a file when its status line was set and no
    // recordDone followed (after the end record the status line holds the closing text).
    bool inFile = code != 0 && status >= 0 && inRecord_;
    std::string where = RecordWhere() + (inFile ? " (file \"" + current + "\")" : "");
    // A file the worker created and did not finish; not one it failed to create, nor an
    // existing one it kept.
    if (writes_ && inFile && refused < 0 && !kept && !(code == MSG_CANT_OPEN_FILE && !askedForVolume))
        damagedFile_ = levels_.back().diskPath + "/" + context.entryName;
    if (!damagedFile_.empty() && !settings_.target.empty()) {
        unlink(damagedFile_.c_str());
        result.warnings.push_back("removed the incomplete file " + Printable(damagedFile_));
    }

    if (code == WORKER_BROKEN || (code == 0 && stop_ != RUNNING)) {
        result.code = stop_ == STOP_IO ? EXIT_IO : stop_ == STOP_INTERRUPT ? EXIT_INTERRUPTED : EXIT_DAMAGED;
        result.message = stopMessage_;
        return;
    }
    if (code != 0) {
        if (refused >= 0) {
            result.code = EXIT_DAMAGED;
            result.message = RecordWhere() + ": refused: " + Shown(events[refused].text);
        } else if (code == MSG_CANT_OPEN_FILE && askedForVolume) {
            u32 missing = context.volumeNumber;
            result.code = EXIT_DAMAGED;
            result.message = where + ": the archive goes on past the end of " +
                             BaseName(reader_.VolumeName(missing - 1)) + ", but disk" +
                             std::to_string(missing) + ".pak is missing (a truncated or missing volume, or a damaged payload reading past the end)";
        } else if (code == MSG_WRONG_STRUCTURE) {
            result.code = EXIT_DAMAGED;
            result.message = RecordWhere() + ": wrong structure: a record type other than 1 to 4, "
                                             "or a name longer than 255 bytes";
        } else if (code == MSG_READ_ERROR) {
            result.code = EXIT_IO;
            result.message = where + ": error reading " + BaseName(reader_.VolumeName(context.volumeNumber));
        } else if (code == MSG_CANT_OPEN_FILE || code == MSG_CANT_OPEN_DIRECTORY) {
            // In a scratch folder only the archive itself can make a name clash.
            result.code = settings_.target.empty() ? EXIT_DAMAGED : EXIT_IO;
            std::string path = levels_.back().diskPath + "/" + context.entryName;
            struct stat info;
            std::string why = "cannot be created";
            // A name this walk has met already: the archive clashes with itself.
            auto met = levels_.back().names.find(FoldCase(Shown(context.entryName)));
            if (met != levels_.back().names.end() && met->second != (code == MSG_CANT_OPEN_DIRECTORY)) {
                result.code = EXIT_DAMAGED;
                result.message = RecordWhere() + ": \"" + current + "\" names both a file and a folder";
                return;
            }
            if (writes_ && lstat(path.c_str(), &info) == 0) {
                bool folder = S_ISDIR(info.st_mode);
                if (folder != (code == MSG_CANT_OPEN_DIRECTORY))
                    why = std::string("the name is taken by a ") + (folder ? "folder" : "file");
                else if (!folder && !(info.st_mode & S_IWUSR))
                    why = "an existing read-only file cannot be replaced";
            }
            result.message = RecordWhere() + ": " + (code == MSG_CANT_OPEN_FILE ? "file \"" : "folder \"") +
                             current + "\": " + why;
        } else if (code == MSG_WRITE_ERROR) {
            result.code = EXIT_IO;
            result.message = where + ": error writing " + current;
        } else {
            result.code = EXIT_DAMAGED;
            result.message = where + ": the worker ended with message " + std::to_string(code);
        }
        return;
    }

    // A complete walk: what the format lets one check beyond the worker's own tests.
    const ArchiveHeader& header = reader_.Header();
    if (sizeSum_ != header.totalSize) {
        result.code = EXIT_DAMAGED;
        result.message = "the files add up to " + std::to_string(sizeSum_) +
                         " bytes, the header's total is " + std::to_string(header.totalSize);
        return;
    }
    u64 after = (u64)(context.readFill - context.readPos) + context.volumeRemaining;
    u32 last = context.volumeNumber;
    bool padding = after && last == 1 && reader_.Embedded() && IsSignaturePadding(reader_.Volumes()[0].path, after);
    if (after && !padding) {
        result.code = EXIT_DAMAGED;
        result.message = std::to_string(after) + " bytes follow the end record in " +
                         BaseName(reader_.VolumeName(last));
        return;
    }
    for (size_t v = last; v < reader_.Volumes().size(); v++)
        result.warnings.push_back(reader_.Volumes()[v].path + " is not part of this archive (it ends in " +
                                  BaseName(reader_.VolumeName(last)) + ")");
}
