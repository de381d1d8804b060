// Running quill from the tests: each command runs in a child process, so that a crash or
// a hang on a damaged archive shows as such instead of taking the test binary down.
#ifndef QUILL_TESTS_QUILL_SUPPORT_H
#define QUILL_TESTS_QUILL_SUPPORT_H

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "quill.h"

struct QuillRun {
    int code = -1;          // exit code; -1 when the child did not exit normally
    int signal = 0;         // the signal that ended it (a crash), or SIGKILL after a hang
    bool hung = false;
    std::string out, err;
};

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline QuillRun RunQuill(std::vector<std::string> args, int timeoutSeconds = 60)
{
    TempDir io;
    std::string outPath = io / "out", errPath = io / "err";
    args.insert(args.begin(), "quill");
    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        _exit(QuillMain((int)args.size(), argv.data()));
    }
    QuillRun run;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            run.hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status))
        run.code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    run.out = ReadText(outPath);
    run.err = ReadText(errPath);
    return run;
}

// A stand-in for the installer program: what matters to the format is its size.
inline std::string WriteStub(const std::string& dir, size_t size = 4096)
{
    Bytes stub(size, 0);
    if (size >= 2) {
        stub[0] = 'M';
        stub[1] = 'Z';
    }
    for (size_t i = 64; i < size; i++)
        stub[i] = (u8)(i * 7);
    std::string path = dir + "/stub.exe";
    WriteBytes(path, stub);
    return path;
}

inline void MakeDir(const std::string& path)
{
    mkdir(path.c_str(), 0755);
}

inline void SetTime(const std::string& path, time_t seconds, long nanoseconds)
{
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = seconds;
    times[0].tv_nsec = times[1].tv_nsec = nanoseconds;
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Names of the entries of a folder whose names start with prefix.
inline std::vector<std::string> Leftovers(const std::string& dir, const std::string& prefix)
{
    std::vector<std::string> names;
    for (const auto& entry : ReadTree(dir))
        if (entry.first.compare(0, prefix.size(), prefix) == 0)
            names.push_back(entry.first);
    return names;
}

// A shell command's exit code and its stdout and stderr together.
struct ShellRun {
    int code = -1;
    std::string out;
};

inline ShellRun RunShell(const std::string& command)
{
    ShellRun result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        result.out.append(buffer, n);
    int status = pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline bool HaveProgram(const std::string& program)
{
    return RunShell("command -v " + program).code == 0;
}

// The installer program the build made (or QUILL_STUB), "" when there is none.
inline std::string BuiltInstaller()
{
    const char* given = getenv("QUILL_STUB");
    std::string path = given && *given ? given : QUILL_INSTALLER_FILE;
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 ? path : "";
}

#endif
