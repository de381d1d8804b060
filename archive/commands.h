// Commands between the installer's windows: WM_COMMAND with the command in wParam and its
// argument in lParam. The worker talks to the interface only through these and through
// control texts.
#ifndef QUILL_ARCHIVE_COMMANDS_H
#define QUILL_ARCHIVE_COMMANDS_H

enum Command {
    BAR_SETPOS = 5122,         // worker, decoder -> bar: position, clamped to the range
    BAR_SETMAX = 5123,         // worker -> bar: upper bound (totalSize)
    BAR_SETMIN = 5124,         // worker -> bar: lower bound (0)
    BAR_SETBARCOLOR = 5125,    // not sent: colour of the filled part
    BAR_SETBACKCOLOR = 5126,   // not sent: colour of the rest
    CMD_START_INSTALL = 5127,  // background window -> itself, at creation
    CMD_CREATE_GROUP = 5128,   // worker -> background window, posted at the end
    ID_WORKER_ABORTED = 2024   // AbortWorker -> progress dialog, before the worker ends
};

// Controls of the progress dialog that the worker writes to.
enum ProgressControl {
    CONTROL_ACTION_BUTTON = 1011,
    CONTROL_STATUS_LINE = 1012,
    CONTROL_PROGRESS_BAR = 1068,
    CONTROL_TOP_LINE = 1013
};

#endif
