// The product's entry in Apps & features, for an archive that asks for the uninstall: the
// key the installer writes as it starts, so that an install broken off can be removed
// too, and the directory of an earlier install, where an upgrade starts.
#include "ui.h"

#include "../archive/held.h"
#include "../archive/context.h"
#include "../archive/extension.h"
#include "../archive/messages.h"
#include "../archive/platform.h"
#include "../archive/text.h"
#include "../extract/install_log.h"

u32 createdLevels;

int PerUserInstall()
{
    const char* scope = ExtensionValue(KEY_UNINSTALL_SCOPE);
    return scope && scope[0] == 'u';
}

// The archive's scope decides where the entry goes: a per-user install under HKCU, whoever
// runs it, everything else for the machine. HKEY_CURRENT_USER is the value just below
// HKEY_LOCAL_MACHINE: one subtraction instead of a choice.
static HKEY Root(int perUser)
{
    return (HKEY)((ULONG_PTR)HKEY_LOCAL_MACHINE - (ULONG_PTR)perUser);
}

// The key's path under its root, from the archive's id, in UTF-8 (TEXT_SIZE bytes); 0
// without an id.
static const char* KeyPath(char* path)
{
    const char* id = ExtensionValue(KEY_UNINSTALL_ID);
    if (!id)
        return 0;
    CopyText(path, UNINSTALL_KEY_PATH);
    const u32 length = sizeof(UNINSTALL_KEY_PATH) - 1;
    PlatArchiveText(id, path + length, TEXT_SIZE - length);
    return path;
}

void StartFromEarlierInstall(char* installDir)
{
    char path[TEXT_SIZE];
    if (KeyPath(path))
        ReadRegistryText(Root(PerUserInstall()), path, L"InstallLocation", installDir);
}

// The entry's texts, off the stack (the worker alone writes the key): the program's path,
// quoted, with /S, the date, an archive text as UTF-8, and the size in kilobytes.
static struct {
    char program[TEXT_SIZE + 8], quoted[TEXT_SIZE + 8], quiet[TEXT_SIZE + 8], date[12];
    char stored[TEXT_SIZE];
    DWORD kilobytes;
    WCHAR wide[WIDE_SIZE + 8];
} entry;

// An archive text for the entry, converted; 0 when the archive has none.
static const char* EntryText(const char* key)
{
    const char* stored = ExtensionValue(key);
    if (!stored)
        return 0;
    PlatArchiveText(stored, entry.stored, TEXT_SIZE);
    return entry.stored;
}

static const DWORD one = 1;

// The entry's values in the order they are written: the installer's texts, the archive's
// optional texts (named by their key, left out when the archive lacks them), the numbers.
// The names follow one another in one text, so that no pointer is stored for each. Both
// tables keep their own alignment: GCC would place an array of 32 bytes or more at a
// 32-byte boundary, padding .text for no gain.
enum { FIRST_ARCHIVE_TEXT = 6, FIRST_NUMBER = 9, VALUE_COUNT = 12 };
static const char valueNames[] __attribute__((aligned(1))) =
    "DisplayName\0UninstallString\0QuietUninstallString\0InstallLocation\0DisplayIcon\0InstallDate\0"
    "DisplayVersion\0Publisher\0URLInfoAbout\0EstimatedSize\0NoModify\0NoRepair";
static const void* const values[VALUE_COUNT] __attribute__((aligned(4))) = {
    productTitle, entry.quoted, entry.quiet, context.installDir, entry.program, entry.date,  // texts
    KEY_PRODUCT_VERSION, KEY_PRODUCT_PUBLISHER, KEY_UNINSTALL_URL,                        // keys
    &entry.kilobytes, &one, &one};                                                        // DWORDs

// Writes every value of the entry; 0, or message 11 with the key's name in detailText.
static int RegisterProduct(HKEY root, const char* rootName, const char* path)
{
    auto& e = *Held(&entry);
    char* program = e.program;
    char* quoted = e.quoted;
    char* quiet = e.quiet;
    FormatWithText(program, sizeof(e.program), "%s\\", context.installDir);
    AppendText(program, EntryText(KEY_UNINSTALL_PROGRAM), sizeof(e.program));
    FormatWithText(quoted, sizeof(e.quoted), "\"%s\"", program);
    FormatWithText(quiet, sizeof(e.quiet), "%s /S", quoted);
    SYSTEMTIME today;
    GetLocalTime(&today);
    AppendNumber(e.date, today.wYear * 10000u + today.wMonth * 100u + today.wDay, sizeof(e.date));
    e.kilobytes = (context.header.totalSize + 1023) / 1024;

    HKEY key;
    // ERROR_SUCCESS (0) until a call fails.
    LONG status = RegCreateKeyExW(root, Wide(path, e.wide), 0, 0, 0, KEY_SET_VALUE, 0, &key, 0);
    if (status == ERROR_SUCCESS) {
        const char* valueName = valueNames;
        for (u32 i = 0; status == ERROR_SUCCESS && i < VALUE_COUNT; i++, valueName += TextLength(valueName) + 1) {
            const BYTE* value = (const BYTE*)values[i];
            WCHAR name[24];
            WideIn(valueName, name, 24);
            DWORD size = sizeof(DWORD);
            DWORD type = REG_DWORD;
            if (i >= FIRST_ARCHIVE_TEXT && i < FIRST_NUMBER)
                value = (const BYTE*)EntryText((const char*)value);
            if (!value)
                continue;
            if (i < FIRST_NUMBER) {
                value = (const BYTE*)Wide((const char*)value, e.wide);
                size = (lstrlenW(e.wide) + 1) * sizeof(WCHAR);
                type = REG_SZ;
            }
            status = RegSetValueExW(key, name, 0, type, value, size);
        }
        RegCloseKey(key);
    }
    AppendText(FormatWithText(detailText, TEXT_SIZE, "%s\\", rootName), path);
    LogLine("key", detailText);
    return status == ERROR_SUCCESS ? 0 : MSG_WRITE_ERROR;
}

int PlatInstallStarting()
{
    // The uninstall needs its program as well as its id: without it the archive asks for
    // nothing (as the log's writer reads it), and no entry names a program that is not there.
    char path[TEXT_SIZE];
    if (!KeyPath(path) || !ExtensionValue(KEY_UNINSTALL_PROGRAM))
        return 0;
    // The root's name for the install log and the key's log line: the second for a per-user install.
    int perUser = PerUserInstall();
    HKEY root = Root(perUser);
    const char* rootName = "HKLM\0HKCU" + 5 * perUser;
    InstallLogHead head = {rootName, context.installDir, createdLevels};
    int failure = InstallLogOpen(&head);
    if (failure)
        return failure;
    // The log's name, which the open left in detailText, made absolute in place (the path
    // is read whole before the buffer is written).
    if (PlatFullPath(detailText, detailText))
        LogLine("install log", detailText);
    return RegisterProduct(root, rootName, path);
}
