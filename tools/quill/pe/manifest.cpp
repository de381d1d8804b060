#include "manifest.h"

#include <string.h>

#include <algorithm>

const char LEVEL_ADMIN[] = "requireAdministrator";
const char LEVEL_USER[] = "asInvoker";

namespace {

const char KEY[] = "<requestedExecutionLevel level=\"";

// The one place of the level's value; npos when there is none or more than one.
size_t FindLevel(const std::vector<u8>& program)
{
    const char* begin = (const char*)program.data();
    const char* end = begin + program.size();
    const char* found = std::search(begin, end, KEY, KEY + sizeof(KEY) - 1);
    if (found == end)
        return std::string::npos;
    const char* value = found + sizeof(KEY) - 1;
    if (std::search(value, end, KEY, KEY + sizeof(KEY) - 1) != end)
        return std::string::npos;
    return (size_t)(value - begin);
}

}  // namespace

std::string ExecutionLevel(const std::vector<u8>& program)
{
    size_t at = FindLevel(program);
    if (at == std::string::npos)
        return "";
    size_t quote = at;
    while (quote < program.size() && program[quote] != '"' && program[quote] != '<')
        quote++;
    if (quote == program.size() || program[quote] != '"')
        return "";
    return std::string(program.begin() + at, program.begin() + quote);
}

bool SetExecutionLevel(std::vector<u8>& program, const std::string& level)
{
    std::string old = ExecutionLevel(program);
    if (old.empty())
        return false;
    size_t at = FindLevel(program);
    size_t end = at + old.size() + 1;  // past the closing quote
    while (end < program.size() && program[end] == ' ')
        end++;
    // The value, its quote and at least one blank before the next attribute.
    if (level.size() + 2 > end - at)
        return false;
    std::string replacement = level + "\"";
    replacement.resize(end - at, ' ');
    std::copy(replacement.begin(), replacement.end(), program.begin() + at);
    return true;
}

std::string PrivilegesName(const std::string& level)
{
    if (level == LEVEL_ADMIN)
        return "admin";
    if (level == LEVEL_USER)
        return "user";
    return level;
}

bool UnderProgramFiles(const std::string& installDir)
{
    if (installDir.size() < 2 || installDir[1] != ':')
        return true;
    std::string lower = installDir;
    for (char& c : lower)
        c = (char)tolower((unsigned char)c);
    size_t start = 2;
    while (start < lower.size() && lower[start] == '\\')
        start++;
    return lower.compare(start, 13, "program files") == 0;
}
