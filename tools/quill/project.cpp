#include "project.h"

#include <ctype.h>

#include <fstream>

#include "archive/messages.h"
#include "codepage.h"
#include "files.h"
#include "message_sets.h"
#include "pe/program.h"
#include "quill.h"
#include "uninstall.h"

static std::string Trim(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && isspace((unsigned char)text[begin]))
        begin++;
    while (end > begin && isspace((unsigned char)text[end - 1]))
        end--;
    return text.substr(begin, end - begin);
}

static bool HasControl(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

static std::string Lower(std::string text)
{
    for (char& c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

[[noreturn]] static void Bad(const std::string& origin, const std::string& what)
{
    Fail(EXIT_USAGE, origin + ": " + what);
}

static void SetOnce(Setting& setting, const std::string& key, const std::string& value,
                    const std::string& origin)
{
    // A repeated key in the file is a mistake; an option overrides the file.
    bool fromFile = !origin.empty() && origin[0] != '-';
    bool earlierFromFile = setting.given() && setting.origin[0] != '-';
    if (setting.given() && fromFile && earlierFromFile)
        Bad(origin, key + " is already set at " + setting.origin);
    setting.value = value;
    setting.origin = origin;
}

static int ParseNumber(const std::string& text)
{
    if (text.empty() || text.size() > 6)
        return -1;
    for (char c : text)
        if (!isdigit((unsigned char)c))
            return -1;
    return std::stoi(text);
}

static u32 ParseAttributeFlags(const std::string& value, const std::string& origin)
{
    u32 attributes = 0;
    std::string word;
    std::string text = value + " ";
    for (char c : text) {
        if (c == ',' || isspace((unsigned char)c)) {
            if (word.empty())
                continue;
            std::string flag = Lower(word);
            if (flag == "hidden")
                attributes |= ATTRIBUTE_HIDDEN;
            else if (flag == "system")
                attributes |= ATTRIBUTE_SYSTEM;
            else if (flag == "readonly" || flag == "read-only")
                attributes |= ATTRIBUTE_READONLY;
            else
                Bad(origin, "unknown attribute \"" + word + "\" (hidden, system or readonly)");
            word.clear();
        } else {
            word += c;
        }
    }
    if (!attributes)
        Bad(origin, "no attribute given (hidden, system or readonly)");
    return attributes;
}

static std::string NormaliseRelativePath(const std::string& path, const std::string& origin)
{
    std::string normal, part;
    std::string text = path + "/";
    for (char c : text) {
        if (c == '/' || c == '\\') {
            if (part == "..")
                Bad(origin, "\"" + path + "\" leaves the source folder");
            if (!part.empty() && part != ".")
                normal += (normal.empty() ? "" : "/") + part;
            part.clear();
        } else {
            part += c;
        }
    }
    if (normal.empty())
        Bad(origin, "an attribute needs a file path");
    return normal;
}

void ApplySetting(PackSettings& settings, const std::string& section, const std::string& rawKey,
                  const std::string& value, const std::string& origin)
{
    std::string key = section == "attributes" ? rawKey : Lower(rawKey);
    if (section == "installer") {
        if (key == "title" || key == "window-title" || key == "install-dir") {
            if (value.empty())
                Bad(origin, key + " needs a value");
            SetOnce(key == "title" ? settings.title
                    : key == "window-title" ? settings.windowTitle : settings.installDir,
                    key, value, origin);
        } else if (key == "post-install") {
            SetOnce(settings.postInstall, key, value, origin);
        } else if (key == "background") {
            std::string v = Lower(value);
            if (v == "maximized" || v == "maximised")
                settings.backgroundMaximized = true;
            else if (v == "minimized" || v == "minimised")
                settings.backgroundMaximized = false;
            else
                Bad(origin, "background is maximized or minimized, not \"" + value + "\"");
        } else if (key == "privileges") {
            std::string v = Lower(value);
            if (v != "user" && v != "admin")
                Bad(origin, "privileges are user or admin, not \"" + value + "\"");
            SetOnce(settings.privileges, key, v, origin);
        } else if (key == "compression") {
            std::string v = Lower(value);
            if (v == "best")
                settings.bestCompression = true;
            else if (v == "normal")
                settings.bestCompression = false;
            else
                Bad(origin, "compression is normal or best, not \"" + value + "\"");
        } else if (key == "language") {
            if (!FindLanguage(Lower(value)))
                Bad(origin, "unknown language \"" + value + "\" (english, german, french, russian)");
            settings.language = Lower(value);
        } else if (key == "codepage") {
            int number = ParseNumber(value);
            if (!CodePage::Supported(number))
                Bad(origin, "code page \"" + value + "\" is not supported (874 or 1250 to 1258)");
            settings.codePage = number;
            settings.codePageOrigin = origin;
        } else if (key == "icon" || key == "version" || key == "company" || key == "description" ||
                   key == "copyright") {
            // A relative icon path in a project file is read from the file's folder.
            std::string text = value;
            bool fromFile = !origin.empty() && origin[0] != '-';
            if (key == "icon" && fromFile && !text.empty() && text[0] != '/' && !settings.projectFile.empty())
                text = DirectoryOf(settings.projectFile) + "/" + text;
            u16 parts[4];
            if (key == "version" && !ParseVersion(value, parts))
                Bad(origin, "a version is one to four numbers up to 65535 with dots between, not \"" + value + "\"");
            SetOnce(key == "icon" ? settings.icon : key == "version" ? settings.version
                    : key == "company" ? settings.company : key == "description" ? settings.description
                    : settings.copyright, key, text, origin);
        } else if (key == "icon-xp" || key == "icon-all") {
            std::string v = Lower(value);
            if (v != "yes" && v != "no")
                Bad(origin, key + " is yes or no, not \"" + value + "\"");
            SetOnce(key == "icon-xp" ? settings.iconXp : settings.iconAll, key, v, origin);
        } else {
            Bad(origin, "unknown key \"" + rawKey + "\" in [installer]");
        }
    } else if (section == "group") {
        if (key == "name") {
            if (value.empty())
                Bad(origin, "name needs a value");
            SetOnce(settings.groupName, key, value, origin);
        } else if (key == "item") {
            size_t bar = value.find('|');
            std::string title = bar == std::string::npos ? "" : Trim(value.substr(0, bar));
            std::string path = bar == std::string::npos ? "" : Trim(value.substr(bar + 1));
            if (title.empty() || path.empty())
                Bad(origin, "an item is \"title | path\"");
            settings.groupItems.push_back({title, path, origin});
        } else if (key == "kind") {
            std::string v = Lower(value);
            if (v != "shortcuts" && v != "dde")
                Bad(origin, "kind is shortcuts or dde, not \"" + value + "\"");
            SetOnce(settings.groupKind, key, v, origin);
        } else {
            Bad(origin, "unknown key \"" + rawKey + "\" in [group] (name, item, kind)");
        }
    } else if (section == "uninstall") {
        if (key == "enabled") {
            std::string v = Lower(value);
            if (v != "yes" && v != "no")
                Bad(origin, "enabled is yes or no, not \"" + value + "\"");
            SetOnce(settings.uninstallEnabled, key, v, origin);
        } else if (key == "id") {
            std::string wrong = CheckUninstallId(value);
            if (!wrong.empty())
                Bad(origin, "id \"" + Printable(value) + "\": " + wrong);
            SetOnce(settings.uninstallId, key, value, origin);
        } else if (key == "program") {
            std::string wrong = CheckUninstallProgram(value);
            if (!wrong.empty())
                Bad(origin, "program \"" + Printable(value) + "\": " + wrong);
            SetOnce(settings.uninstallProgram, key, value, origin);
        } else if (key == "url" || key == "description") {
            if (value.empty() || HasControl(value))
                Bad(origin, key + " needs a value of one line");
            SetOnce(key == "url" ? settings.uninstallUrl : settings.uninstallDescription, key, value, origin);
        } else {
            Bad(origin, "unknown key \"" + rawKey + "\" in [uninstall] (enabled, id, program, url, description)");
        }
    } else if (section == "winget") {
        if (key != "package-id" && key != "license" && key != "installer-url")
            Bad(origin, "unknown key \"" + rawKey + "\" in [winget] (package-id, license, installer-url)");
        if (value.empty() || HasControl(value))
            Bad(origin, key + " needs a value of one line");
        if (key == "package-id") {
            std::string wrong = CheckPackageId(value);
            if (!wrong.empty())
                Bad(origin, "package-id \"" + Printable(value) + "\": " + wrong);
        }
        SetOnce(key == "package-id" ? settings.packageId : key == "license" ? settings.license
                : settings.installerUrl, key, value, origin);
    } else if (section == "messages") {
        int id = ParseNumber(key);
        bool text = IsAdditionText(id);
        if (id < 0 || (!text && MessageEntry(id) == (u32)MSG_SYSTEM_ERROR && id != MSG_SYSTEM_ERROR))
            Bad(origin, "\"" + rawKey + "\" is not a message id (1 to 17, 111 to 121, 200 to 206, 210)");
        Setting& message = settings.messages[id];
        SetOnce(message, "message " + key, value, origin);
    } else if (section == "attributes") {
        settings.attributes.push_back(
            {NormaliseRelativePath(rawKey, origin), ParseAttributeFlags(value, origin), origin});
    } else {
        Bad(origin, "unknown section [" + section + "]");
    }
}

// The value part of a line: quotes keep spaces and semicolons; otherwise " ;" starts a
// comment.
static std::string ValueOf(const std::string& text, const std::string& origin)
{
    std::string value = Trim(text);
    if (!value.empty() && value[0] == '"') {
        size_t close = value.find('"', 1);
        if (close == std::string::npos)
            Bad(origin, "the quoted value has no closing quote");
        std::string rest = Trim(value.substr(close + 1));
        if (!rest.empty() && rest[0] != ';')
            Bad(origin, "text after the closing quote");
        return value.substr(1, close - 1);
    }
    for (size_t i = 0; i < value.size(); i++)
        if (value[i] == ';' && (i == 0 || isspace((unsigned char)value[i - 1])))
            return Trim(value.substr(0, i));
    return value;
}

void ReadProjectFile(const std::string& path, PackSettings& settings)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        FailErrno("cannot read project file " + path);
    settings.projectFile = path;
    std::string line, section;
    int number = 0;
    while (std::getline(in, line)) {
        number++;
        std::string origin = path + ":" + std::to_string(number);
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::u32string chars;
        if (line.find('\0') != std::string::npos || !DecodeUtf8(line, chars))
            Bad(origin, "the line is not UTF-8 text");
        std::string text = Trim(line);
        if (text.empty() || text[0] == ';')
            continue;
        if (text[0] == '[') {
            size_t close = text.find(']');
            std::string rest = close == std::string::npos ? "" : Trim(text.substr(close + 1));
            if (close == std::string::npos || (!rest.empty() && rest[0] != ';'))
                Bad(origin, "a section line is \"[name]\"");
            section = Lower(Trim(text.substr(1, close - 1)));
            if (section != "installer" && section != "group" && section != "messages" &&
                section != "attributes" && section != "uninstall" && section != "winget")
                Bad(origin, "unknown section [" + section +
                                "] (installer, group, messages, attributes, uninstall, winget)");
            continue;
        }
        size_t equals = text.find('=');
        if (equals == std::string::npos)
            Bad(origin, "expected \"key = value\"");
        if (section.empty())
            Bad(origin, "a setting before the first [section]");
        std::string key = Trim(text.substr(0, equals));
        if (key.empty())
            Bad(origin, "a setting without a key");
        ApplySetting(settings, section, key, ValueOf(text.substr(equals + 1), origin), origin);
    }
    if (in.bad())
        FailErrno("cannot read project file " + path);
}

void CheckRequiredSettings(PackSettings& settings)
{
    std::string where = settings.projectFile.empty() ? "options" : settings.projectFile;
    if (!settings.title.given())
        Fail(EXIT_USAGE, where + ": no title ([installer] title, or --title)");
    if (!settings.installDir.given())
        Fail(EXIT_USAGE, where + ": no install directory ([installer] install-dir, or --install-dir)");
    if (!settings.windowTitle.given())
        settings.windowTitle = settings.title;
    if (!settings.groupItems.empty() && !settings.groupName.given())
        Fail(EXIT_USAGE, settings.groupItems[0].origin + ": group items need a group name ([group] name)");
    if (settings.UninstallEnabled()) {
        if (!settings.uninstallId.given()) {
            std::string id = DefaultUninstallId(settings.title.value);
            std::string wrong = CheckUninstallId(id);
            if (!wrong.empty())
                Fail(EXIT_USAGE, settings.title.origin + ": the uninstall id made from the title \"" +
                                     Printable(settings.title.value) + "\" " + wrong +
                                     "; give one ([uninstall] id, --uninstall-id) or --no-uninstall");
            settings.uninstallId = {id, settings.title.origin + " (the title)"};
        }
        if (!settings.uninstallProgram.given())
            settings.uninstallProgram = {DEFAULT_UNINSTALL_PROGRAM, "the default program name"};
    }
}
