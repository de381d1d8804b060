// What the log lists, removed deepest first, and what stays named: a file goes only while
// its size and write time are those the install gave it, a folder only when empty.
#include "uninstall.h"

#include <ddeml.h>

// The SDK declares these without dllimport, so each call would go through the import
// library's jump, whose address ld leaves out of the base relocation table under the
// programs' linker script: moved by address-space randomisation, the jump would land
// elsewhere. Through the import address table, as every other call goes, they are relocated.
extern "C" {
__declspec(dllimport) UINT WINAPI DdeInitializeW(LPDWORD, PFNCALLBACK, DWORD, DWORD);
__declspec(dllimport) HSZ WINAPI DdeCreateStringHandleW(DWORD, LPCWSTR, int);
__declspec(dllimport) HCONV WINAPI DdeConnect(DWORD, HSZ, HSZ, PCONVCONTEXT);
__declspec(dllimport) HDDEDATA WINAPI DdeClientTransaction(LPBYTE, DWORD, HCONV, HSZ, UINT, UINT, DWORD, LPDWORD);
__declspec(dllimport) WINBOOL WINAPI DdeDisconnect(HCONV);
__declspec(dllimport) WINBOOL WINAPI DdeFreeStringHandle(DWORD, HSZ);
__declspec(dllimport) WINBOOL WINAPI DdeUninitialize(DWORD);
}

#include "../archive/text.h"

static WCHAR path[WIDE_PATH_SIZE];     // the entry at hand
static WCHAR walkPath[WIDE_PATH_SIZE]; // the kept walk's current path

static void Failed(const char* what, const char* name)
{
    LogLine(what, name);
    if (!state.failures++)
        CopyText(state.failed, name);
}

static int Gone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A file of the install: deleted when unchanged; one that was changed stays for the walk
// to name.
static void RemoveFile(const InstallLogItem* item)
{
    const InstallLog& log = state.log;
    PrefixedPath(log.directory, item->path, path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        if (!Gone(GetLastError()))
            Failed("failed", item->path);
        return;
    }
    u64 written = (u64)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || data.nFileSizeHigh ||
        data.nFileSizeLow != item->size || written != item->writeTime)
        return;
    // The install may have made it read-only, hidden or system; DeleteFile refuses those.
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path) && !Gone(GetLastError()))
        Failed("failed", item->path);
}

static u32 Depth(const char* relative)
{
    u32 depth = 1;
    for (const char* p = relative; *p; p++)
        depth += *p == '\\';
    return depth;
}

// One path that stays, shown without the prefix, as the user knows it.
static void NameKept(const WCHAR* prefixed)
{
    static char shown[WIDE_PATH_SIZE];
    const WCHAR* p = prefixed + 4;
    if (p[0] == 'U' && p[1] == 'N' && p[2] == 'C' && p[3] == '\\') {
        shown[0] = '\\';
        ToUtf8(p + 3, shown + 1, sizeof(shown) - 1);
    } else {
        ToUtf8(p, shown, sizeof(shown));
    }
    LogLine("kept", shown);
    if (state.keptCount++ < KEPT_SHOWN) {
        AppendText(state.kept, "\n", sizeof(state.kept));
        AppendText(state.kept, shown, sizeof(state.kept));
    } else if (state.keptCount == KEPT_SHOWN + 1) {
        AppendText(state.kept, "\n...", sizeof(state.kept));
    }
}

// Names what is left below walkPath: files, and folders with nothing in them; at the top
// not this program and its log. Returns the entries found.
static int WalkKept(int top)
{
    u32 length = (u32)lstrlenW(walkPath);
    if (length + 3 >= WIDE_PATH_SIZE)
        return 1;
    lstrcpyW(walkPath + length, L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(walkPath, &found);
    walkPath[length] = 0;
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int entries = 0;
    do {
        const WCHAR* name = found.cFileName;
        if (name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2])))
            continue;
        entries++;
        if (top && (!lstrcmpiW(name, state.self + lstrlenW(state.folder) + 1) ||
                    !lstrcmpiW(name, state.logPath + lstrlenW(state.folder) + 1)))
            continue;
        if (length + 1 + (u32)lstrlenW(name) + 1 >= WIDE_PATH_SIZE)
            continue;
        walkPath[length] = '\\';
        lstrcpyW(walkPath + length + 1, name);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !WalkKept(0))
            NameKept(walkPath);
        walkPath[length] = 0;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

static HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return 0;
}

// A group the install made through the program manager goes the same way.
static void DeleteDdeGroup(const char* name)
{
    DWORD instance = 0;
    if (DdeInitializeW(&instance, DdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        LogLine("group", "no DDE");
        return;
    }
    HSZ service = DdeCreateStringHandleW(instance, L"PROGMAN", CP_WINUNICODE);
    HCONV conversation = DdeConnect(instance, service, service, 0);
    const char* outcome = "no answer from the program manager";
    if (conversation) {
        static WCHAR command[TEXT_SIZE + 32];
        lstrcpyW(command, L"[DeleteGroup(");
        ToWide(name, command + lstrlenW(command), TEXT_SIZE);
        lstrcatW(command, L")]");
        DWORD result = 0;
        HDDEDATA done = DdeClientTransaction((LPBYTE)command, (DWORD)(lstrlenW(command) + 1) * sizeof(WCHAR),
                                            conversation, 0, 0, XTYP_EXECUTE, 10000, &result);
        outcome = done ? "deleted" : "refused by the program manager";
        DdeDisconnect(conversation);
    }
    static char line[TEXT_SIZE + 64];
    CopyText(line, name, sizeof(line));
    AppendText(line, ": ", sizeof(line));
    LogLine("group", AppendText(line, outcome, sizeof(line)));
    DdeFreeStringHandle(instance, service);
    DdeUninitialize(instance);
}

static HKEY RootKey(const char* root)
{
    return root[2] == 'L' || root[2] == 'l' ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The InstallLocation of an open key, in value (WIDE_PATH_SIZE); nonzero when read.
static int InstallLocation(HKEY key, WCHAR* value)
{
    DWORD type = 0, size = (WIDE_PATH_SIZE - 1) * sizeof(WCHAR);
    if (RegQueryValueExW(key, L"InstallLocation", 0, &type, (BYTE*)value, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return 0;
    value[size / sizeof(WCHAR)] = 0;
    return 1;
}

static void RemoveKey()
{
    const InstallLog& log = state.log;
    static WCHAR name[TEXT_SIZE * 2], location[WIDE_PATH_SIZE], directory[WIDE_PATH_SIZE];
    ToWide(log.key, name, TEXT_SIZE * 2);
    HKEY root = RootKey(log.keyRoot), key;
    if (RegOpenKeyExW(root, name, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        LogLine("key", "absent");
        return;
    }
    ToWide(log.directory, directory, WIDE_PATH_SIZE);
    int ours = InstallLocation(key, location) && SameFolder(location, directory);
    RegCloseKey(key);
    // Only the entry of this directory: an old copy of the product elsewhere must never
    // remove the entry of a newer install, which may use the same id.
    if (!ours) {
        LogLine("key", "kept: it names another directory");
        return;
    }
    if (RegDeleteKeyW(root, name) != ERROR_SUCCESS)
        Failed("failed", log.key);
    else
        LogLine("key", "removed");
}

void RemoveListed()
{
    const InstallLog& log = state.log;
    u32 maxDepth = 0;
    // Files first, the last listed first; the program removes itself at the end.
    for (u32 i = log.entryCount; i-- > 0;) {
        const InstallLogItem* item = &log.entries[i];
        if (item->superseded)
            continue;
        if (item->kind == LOG_FOLDER && Depth(item->path) > maxDepth)
            maxDepth = Depth(item->path);
        if (item->kind == LOG_FILE && lstrcmpiA(item->path, log.program))
            RemoveFile(item);
    }
    // Folders deepest first, each when empty.
    for (u32 depth = maxDepth; depth; depth--)
        for (u32 i = log.entryCount; i-- > 0;) {
            const InstallLogItem* item = &log.entries[i];
            if (!item->superseded && item->kind == LOG_FOLDER && Depth(item->path) == depth) {
                PrefixedPath(log.directory, item->path, path);
                RemoveDirectoryW(path);
            }
        }
    PrefixedPath(log.directory, 0, walkPath);
    WalkKept(1);

    for (u32 i = log.entryCount; i-- > 0;) {
        const InstallLogItem* item = &log.entries[i];
        if (item->superseded || item->kind != LOG_SHORTCUT)
            continue;
        PrefixedPath(item->path, 0, path);
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(path) && !Gone(GetLastError()))
            Failed("failed", item->path);
    }
    for (u32 i = log.entryCount; i-- > 0;) {
        const InstallLogItem* item = &log.entries[i];
        if (item->superseded)
            continue;
        if (item->kind == LOG_GROUP_FOLDER) {
            PrefixedPath(item->path, 0, path);
            RemoveDirectoryW(path);
        } else if (item->kind == LOG_DDE_GROUP) {
            DeleteDdeGroup(item->path);
        }
    }
    // What failed can be tried again: the entry and the log stay for that.
    if (!state.failures)
        RemoveKey();
}

int KeyNamesFolder(const WCHAR* folder)
{
    static const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (HKEY root : roots) {
        HKEY uninstall;
        if (RegOpenKeyExW(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                          KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &uninstall) != ERROR_SUCCESS)
            continue;
        int found = 0;
        static WCHAR name[TEXT_SIZE], location[WIDE_PATH_SIZE];
        for (DWORD index = 0; !found; index++) {
            DWORD length = TEXT_SIZE;
            if (RegEnumKeyExW(uninstall, index, name, &length, 0, 0, 0, 0) != ERROR_SUCCESS)
                break;
            HKEY key;
            if (RegOpenKeyExW(uninstall, name, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
                continue;
            found = InstallLocation(key, location) && SameFolder(location, folder);
            RegCloseKey(key);
        }
        RegCloseKey(uninstall);
        if (found)
            return 1;
    }
    return 0;
}

void DeleteInstallLog()
{
    // Marked while still held, so that a second start never finds it between the close
    // and a delete; DeleteFile when the system cannot mark it.
    FILE_DISPOSITION_INFO disposition = {TRUE};
    int marked = SetFileInformationByHandle(state.logHandle, FileDispositionInfo, &disposition,
                                            sizeof(disposition));
    CloseHandle(state.logHandle);
    state.logHandle = 0;
    if (!marked && !DeleteFileW(state.logPath) && !Gone(GetLastError())) {
        static char name[WIDE_PATH_SIZE];
        ToUtf8(state.logPath, name, sizeof(name));
        Failed("failed", name);
    }
}
