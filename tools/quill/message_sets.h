// The message sets a project can choose, and the checks every message text must pass
// before it goes into an archive.
#ifndef QUILL_TOOLS_MESSAGE_SETS_H
#define QUILL_TOOLS_MESSAGE_SETS_H

#include <string>
#include <vector>

#include "pack/writer.h"

struct MessageLanguage {
    const char* name;     // as the project names it: english, german, french, russian
    int codePage;         // the code page its texts are stored in
};

// The known languages, English first.
const std::vector<MessageLanguage>& MessageLanguages();
// 0 when the name is unknown.
const MessageLanguage* FindLanguage(const std::string& name);
// The set of a language as UTF-8 texts in list order (ids 1..17, then 111..121).
MessageList MessageSetUtf8(const std::string& language);

// The uninstaller's texts of a language as UTF-8, ids 200 to 206 in order (each with one
// %s: the title, for 204 the install log's name).
std::vector<std::string> UninstallTextsUtf8(const std::string& language);

// Text 210 of a language as UTF-8: a shortcut (its name the %s) that cannot be created.
std::string ShortcutTextUtf8(const std::string& language);

// Longest text the installer's lookups take: its callers pass as little as 200 bytes.
enum { MAX_MESSAGE_BYTES = 199 };

// Checks a message text (UTF-8; ids 200 to 206 too) against what its id must carry: exactly the placeholders
// of the id, each "%" of a formatted text either one of them or "%%", and nothing that
// looks like a placeholder in a text shown as it stands. Returns "" or what is wrong.
std::string CheckMessagePlaceholders(int id, const std::string& text);
// The stored form's checks: at most MAX_MESSAGE_BYTES, and for the shifted message no
// byte that the shift would turn into a NUL. Returns "" or what is wrong.
std::string CheckStoredMessage(int id, const std::string& stored);

#endif
