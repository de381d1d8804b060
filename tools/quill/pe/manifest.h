// The execution level that the installer program's manifest asks the system for:
// requireAdministrator (elevation, for installs into Program Files) or asInvoker (the
// user's own rights). quill pack sets it in its copy of the program, quill list shows it.
#ifndef QUILL_TOOLS_PE_MANIFEST_H
#define QUILL_TOOLS_PE_MANIFEST_H

#include <string>
#include <vector>

#include "archive/format.h"

extern const char LEVEL_ADMIN[];  // requireAdministrator
extern const char LEVEL_USER[];   // asInvoker

// The level named in the program's manifest; "" when the program has none (or more
// than one, which no sound program has).
std::string ExecutionLevel(const std::vector<u8>& program);

// Rewrites the level in place. The manifest's bytes keep their length: the new value is
// padded with blanks inside the element, so nothing else in the program moves. Returns
// false when the program has no single level or the room of the old value and the blanks
// behind it is too small.
bool SetExecutionLevel(std::vector<u8>& program, const std::string& level);

// What quill says for a level: "admin", "user" or the level itself.
std::string PrivilegesName(const std::string& level);

// Whether a default directory as the archive stores it (string block entry 3) lies under
// Program Files: relative ones do, as do drive paths whose first folder is Program Files.
bool UnderProgramFiles(const std::string& installDir);

#endif
