#include "uninstall.h"

#include <strings.h>

#include "source_tree.h"

static bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

std::string DefaultUninstallId(const std::string& title)
{
    std::string id;
    for (unsigned char c : title)
        if (c != '\\' && !IsControl(c))
            id += (char)c;
    size_t begin = id.find_first_not_of(' ');
    if (begin == std::string::npos)
        return "";
    return id.substr(begin, id.find_last_not_of(' ') + 1 - begin);
}

std::string CheckUninstallId(const std::string& id)
{
    if (id.empty())
        return "is empty";
    for (unsigned char c : id) {
        if (c == '\\')
            return "holds a backslash, which a registry key name cannot";
        if (IsControl(c))
            return "holds a control character";
    }
    if (id.front() == ' ' || id.back() == ' ')
        return "begins or ends with a blank";
    return "";
}

std::string CheckUninstallProgram(const std::string& name)
{
    if (name.find_first_of("\\/:") != std::string::npos)
        return "is a file name at the install directory's top, without a path";
    if (name.size() <= 4 || strcasecmp(name.c_str() + name.size() - 4, ".exe") != 0)
        return "is a program name ending in .exe";
    std::string wrong = CheckStoredName(name);
    return wrong.empty() ? "" : wrong;
}

std::string CheckPackageId(const std::string& id)
{
    if (id.size() > 128)
        return "is longer than 128 characters";
    size_t parts = 0, length = 0;
    for (size_t i = 0; i <= id.size(); i++) {
        unsigned char c = i < id.size() ? (unsigned char)id[i] : '.';
        if (c == '.') {
            if (length == 0)
                return "has an empty part (Publisher.Product)";
            parts++;
            length = 0;
        } else if (IsControl(c) || c == ' ' || std::string("\\/:*?\"<>|").find((char)c) != std::string::npos) {
            return "holds a blank or a character that a file name cannot hold";
        } else if ((c & 0xC0) != 0x80 && ++length > 32) {
            return "has a part longer than 32 characters";
        }
    }
    if (parts < 2 || parts > 8)
        return "is two to eight parts separated by dots (Publisher.Product)";
    return "";
}
