// The installer's command line and its exit codes. Pure code without platform calls, so
// that the tests run it natively; ui/unattended.cpp puts it to work.
//
//   setup.exe [/S] [/NOGROUP] [/RUN] [/LOG=FILE] [/?] [/D=DIRECTORY]
//
// Options are case-insensitive and separated by blanks; a double quote starts and ends a
// stretch in which blanks do not separate (the quotes are dropped). /D= comes last and
// runs to the end of the line, blanks included, as deployment scripts write it for other
// installers; quotes around its whole value are dropped as well.
#ifndef QUILL_UI_COMMAND_LINE_H
#define QUILL_UI_COMMAND_LINE_H

#include "../archive/format.h"
#include "../archive/messages.h"

struct CommandLine {
    u32 silent;                  // /S: no window, no question; failures go to the log
    u32 noGroup;                 // /NOGROUP: no program group even when the archive has items
    u32 runPostInstall;          // /RUN: a silent install starts the post-install command
    u32 usage;                   // /? : the usage was asked for
    char installDir[TEXT_SIZE];  // /D=: the install directory; empty when not given
    char logFile[TEXT_SIZE];     // /LOG=: the log file; empty when not given
    char unknown[TEXT_SIZE];     // the first argument not understood; empty when none
};

// Parses the arguments behind the program's name (line is the whole command line as the
// system gives it, program name first). Returns 1 when every argument was understood;
// otherwise 0, with the offending argument in unknown (an empty or over-long value
// counts as not understood: it must not be cut into another path).
int ParseCommandLine(const char* line, CommandLine* result);

// Exit codes, those that deployment tools already read from installers.
enum InstallerExitCode {
    EXIT_INSTALLED = 0,
    EXIT_DISK_FULL = 112,        // not enough space on the target drive
    EXIT_USER_QUIT = 1602,       // the directory dialog was quit, or the install broken off
    EXIT_INSTALL_FAILED = 1603,  // the message shown or logged says why
    EXIT_ALREADY_RUNNING = 1618, // another install from this program file is running
    EXIT_BAD_COMMAND_LINE = 1639
};

// How an install ended: 0, a message id that names the failure, or OUTCOME_QUIT.
enum { OUTCOME_QUIT = WORKER_BROKEN };  // the user quit the dialog or broke the install off

// The exit code for an outcome.
u32 ExitCodeFor(int outcome);

// The usage text, in English: the archive has no message for it.
extern const char usageText[];

#endif
