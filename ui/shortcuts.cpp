// The program group as shortcuts (group.kind=shortcuts): a folder in the Start menu's
// Programs and one .lnk file per group item, made through the shell's link object. No
// program manager takes part, so no window of the shell opens.
#include "ui.h"

#include <shlobj.h>

#include "desktop_text.h"
#include "shell_text.h"
#include "../archive/archive.h"
#include "../archive/context.h"
#include "../archive/extension.h"
#include "../archive/held.h"
#include "../archive/messages.h"
#include "../archive/platform.h"
#include "../archive/text.h"
#include "../extract/install_log.h"

// Written out here: libuuid would link its table of every interface id.
static const GUID clsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID iidShellLinkW = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID iidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// A shortcut (or the group's folder) that cannot be made ends nothing: the user is told,
// a silent install logs it.
static void CannotCreate(const char* name)
{
    char format[TEXT_SIZE], text[TEXT_SIZE], caption[TEXT_SIZE];
    const char* stored = ExtensionText(TEXT_CANT_CREATE_SHORTCUT);
    if (stored)
        PlatArchiveText(stored, format, TEXT_SIZE);
    else
        LookupMessage(MSG_WRITE_ERROR, format, TEXT_SIZE);
    FormatWithText(text, TEXT_SIZE, format, name);
    ShowBox(mainWindow, TEXT_CANT_CREATE_SHORTCUT, text, LookupMessage(MSG_ATTENTION, caption, TEXT_SIZE),
            MB_ICONWARNING);
}

// Files only: a folder that a prefix names (C:\Program) is no program to start. A path
// that names nothing gives INVALID_FILE_ATTRIBUTES, every bit set, the directory's too.
static int FileExists(const char* path)
{
    WCHAR wide[WIDE_SIZE];
    return !(GetFileAttributesW(Wide(path, wide)) & FILE_ATTRIBUTE_DIRECTORY);
}

// The link's texts, each in UTF-8 and then UTF-16: the item joined and split, the folder.
static struct {
    char text[TEXT_SIZE], target[TEXT_SIZE], arguments[TEXT_SIZE];
    WCHAR wide[WIDE_SIZE];
} link;

// wide holds text as UTF-16 (the interface thread alone makes shortcuts).
static const WCHAR* LinkText(const char* text)
{
    return Wide(text, link.wide);
}

// The shortcut at path for the item text of group entry n, read into link.arguments.
static int SaveShortcut(const char* path, u32 n)
{
    auto& k = *Held(&link);
    StringBlockText(context.header.groupItemsOffset, n, k.arguments);
    if (!JoinItemPath(k.text, TEXT_SIZE, context.installDir, k.arguments))
        return 0;
    SplitItemText(k.text, k.target, k.arguments, FileExists);
    ParentFolder(k.text, k.target);
    void* created;
    if (FAILED(CoCreateInstance(clsidShellLink, 0, CLSCTX_INPROC_SERVER, iidShellLinkW, &created)))
        return 0;
    // A local whose address no call has seen, so it is not read back from the stack.
    IShellLinkW* shellLink = (IShellLinkW*)created;
    void* persisted;
    int ok = SUCCEEDED(shellLink->SetPath(LinkText(k.target))) &&
             SUCCEEDED(shellLink->SetArguments(LinkText(k.arguments))) &&
             SUCCEEDED(shellLink->SetWorkingDirectory(LinkText(k.text))) &&
             SUCCEEDED(shellLink->QueryInterface(iidPersistFile, &persisted));
    if (ok) {
        IPersistFile* file = (IPersistFile*)persisted;
        ok = SUCCEEDED(file->Save(LinkText(path), TRUE));
        file->Release();
    }
    shellLink->Release();
    return ok;
}

// A group or item title as one file's name: name holds it, sanitised.
static char name[TEXT_SIZE];
static const char* FileNameOf(const char* title)
{
    CopyText(name, title);
    SanitiseFileName(name);
    return name;
}

int CreateShortcuts(const char* group)
{
    const char* kind = ExtensionValue(KEY_GROUP_KIND);
    if (!kind || kind[0] != 's')
        return 0;
    char title[TEXT_SIZE];
    // The folder follows the uninstall's key: a per-user install's shortcuts are the
    // user's, every other install's are every user's (the process's token is no guide:
    // Wine reports every process as elevated).
    static char folderText[TEXT_SIZE], pathText[TEXT_SIZE];
    char* folder = Held(folderText);
    char* path = Held(pathText);
    WCHAR programs[MAX_PATH];
    if (!SHGetSpecialFolderPathW(0, programs, PerUserInstall() ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS,
                                 TRUE) ||
        !Narrow(programs, folder) || !AppendPathPart(folder, TEXT_SIZE, FileNameOf(group)) ||
        (!PlatCreateDirectory(folder) && GetLastError() != ERROR_ALREADY_EXISTS)) {
        CannotCreate(group);
        return 1;
    }
    InstallLogEntry("group-folder", folder);
    // A shortcut's path is the folder, a backslash, its name and .lnk, whole. A group
    // without a name left the folder ending with a backslash: no such path for any item.
    int named = name[0] != 0;
    HRESULT com = CoInitializeEx(0, COINIT_APARTMENTTHREADED);
    u32 items = context.header.groupItemsOffset;
    for (u32 i = 1; i <= context.header.groupItemCount; i++) {
        StringBlockText(items, 2 * i - 1, title);
        FileNameOf(title);
        if (named && AppendPathPart(CopyText(path, folder), TEXT_SIZE - 4, name) &&
            SaveShortcut(AppendText(path, ".lnk"), 2 * i)) {
            LogLine("shortcut", path);
            InstallLogEntry("shortcut", path);
        } else {
            CannotCreate(title);
        }
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return 1;
}
