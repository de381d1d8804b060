// quill: packs a folder into an installer, and lists, tests and unpacks installers on the
// build machine. Every byte of the archive is written and read by the core; this tool only
// decides what goes in and reports what comes out.
#ifndef QUILL_TOOLS_QUILL_H
#define QUILL_TOOLS_QUILL_H

#include <string>

// Exit codes, the same for every subcommand.
enum ExitCode {
    EXIT_SOUND = 0,        // done; the archive is sound
    EXIT_DAMAGED = 1,      // the archive is damaged, refused or incomplete
    EXIT_USAGE = 2,        // bad options, project file, message text or source tree
    EXIT_IO = 3,           // reading or writing a file failed
    EXIT_INTERRUPTED = 130 // SIGINT or SIGTERM; what was half written is removed
};

// A failure that ends the command: main prints the message once and exits with the code.
struct Failure {
    int code;
    std::string message;
};

[[noreturn]] void Fail(int code, const std::string& message);
// Fail(EXIT_IO, what + ": " + strerror(errno)).
[[noreturn]] void FailErrno(const std::string& what);

// The whole command line; returns the exit code. Prints to stdout and stderr.
int QuillMain(int argc, char** argv);

// Set by SIGINT and SIGTERM while a command runs; long loops poll it.
bool Interrupted();
// For the tests: clears the flag.
void ResetInterrupted();

// Warnings go to stderr as they happen, prefixed like errors.
void Warn(const std::string& message);

#endif
