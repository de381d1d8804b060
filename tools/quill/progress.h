// Progress on standard error while a command runs on a terminal: files, bytes, percent
// and rate on one line, redrawn at most ten times a second.
#ifndef QUILL_TOOLS_PROGRESS_H
#define QUILL_TOOLS_PROGRESS_H

#include <stdint.h>

#include <chrono>
#include <string>

class Progress {
public:
    // Shown only when enabled and standard error is a terminal.
    Progress(bool enabled, const std::string& action, uint64_t totalBytes, uint32_t totalFiles);
    ~Progress();
    void Advance(uint64_t bytes, uint32_t files);
    // Clears the line.
    void Done();

private:
    void Draw();

    bool shown_;
    std::string action_;
    uint64_t totalBytes_, bytes_ = 0;
    uint32_t totalFiles_, files_ = 0;
    std::chrono::steady_clock::time_point start_, lastDraw_;
};

// "12.3 MB" style, for messages and summaries.
std::string FormatBytes(uint64_t bytes);

#endif
