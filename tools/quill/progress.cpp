#include "progress.h"

#include <stdio.h>
#include <unistd.h>

Progress::Progress(bool enabled, const std::string& action, uint64_t totalBytes, uint32_t totalFiles)
    : shown_(enabled && isatty(2)), action_(action), totalBytes_(totalBytes), totalFiles_(totalFiles)
{
    start_ = lastDraw_ = std::chrono::steady_clock::now();
}

Progress::~Progress()
{
    Done();
}

void Progress::Advance(uint64_t bytes, uint32_t files)
{
    bytes_ += bytes;
    files_ += files;
    if (!shown_)
        return;
    auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(100) && (files_ < totalFiles_ || !totalFiles_))
        return;
    lastDraw_ = now;
    Draw();
}

void Progress::Draw()
{
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double rate = seconds > 0 ? (double)bytes_ / seconds : 0;
    unsigned percent = totalBytes_ ? (unsigned)(bytes_ * 100 / totalBytes_) : 100;
    // The file count is not known before a walk; the bytes are (the header's total).
    std::string files = std::to_string(files_) + (totalFiles_ ? "/" + std::to_string(totalFiles_) : "");
    fprintf(stderr, "\r%s %s files  %s/%s  %3u%%  %s/s\033[K", action_.c_str(), files.c_str(),
            FormatBytes(bytes_).c_str(), FormatBytes(totalBytes_).c_str(), percent,
            FormatBytes((uint64_t)rate).c_str());
    fflush(stderr);
}

void Progress::Done()
{
    if (!shown_)
        return;
    fprintf(stderr, "\r\033[K");
    fflush(stderr);
    shown_ = false;
}

std::string FormatBytes(uint64_t bytes)
{
    char text[32];
    if (bytes < 10000)
        snprintf(text, sizeof(text), "%llu B", (unsigned long long)bytes);
    else if (bytes < 10000000)
        snprintf(text, sizeof(text), "%.1f KB", bytes / 1e3);
    else if (bytes < 10000000000ull)
        snprintf(text, sizeof(text), "%.1f MB", bytes / 1e6);
    else
        snprintf(text, sizeof(text), "%.1f GB", bytes / 1e9);
    return text;
}
