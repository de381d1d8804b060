// The product's entry in Apps & features, for an archive that asks for the uninstall: the
// key the installer writes as it starts, so that an install broken off can be removed
// too, and the directory of an earlier install, where an upgrade starts.
#include "ui.h"

#include "../archive/context.h"
#include "../archive/extension.h"
#include "../archive/messages.h"
#include "../archive/text.h"
#include "../extract/install_log.h"

u32 createdLevels;

// The archive's scope decides where the entry goes: a per-user install under HKCU, whoever
// runs it, everything else for the machine.
static HKEY Root()
{
    const char* scope = ExtensionValue(KEY_UNINSTALL_SCOPE);
    return scope && scope[0] == 'u' ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// The key's path under its root, from the archive's id; 0 without one.
static const char* KeyPath(char* path)
{
    const char* id = ExtensionValue(KEY_UNINSTALL_ID);
    if (!id)
        return 0;
    CopyText(path, UNINSTALL_KEY_PATH, TEXT_SIZE);
    return AppendText(path, id, TEXT_SIZE);
}

void StartFromEarlierInstall(char* installDir)
{
    char path[TEXT_SIZE], location[TEXT_SIZE];
    HKEY key;
    if (!KeyPath(path) || RegOpenKeyExA(Root(), path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD size = TEXT_SIZE - 1, type;
    if (RegQueryValueExA(key, "InstallLocation", 0, &type, (BYTE*)location, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 1) {
        location[size] = 0;
        CopyText(installDir, location, TEXT_SIZE);
    }
    RegCloseKey(key);
}

// Writes every value of the entry; 0, or message 11 with the key's name in detailText.
static int RegisterProduct(HKEY root, const char* rootName, const char* path)
{
    char program[2 * TEXT_SIZE], quoted[2 * TEXT_SIZE + 8], quiet[2 * TEXT_SIZE + 8], date[12] = "";
    CopyText(program, context.installDir, sizeof(program));
    AppendText(program, "\\", sizeof(program));
    AppendText(program, ExtensionValue(KEY_UNINSTALL_PROGRAM), sizeof(program));
    CopyText(quoted, "\"", sizeof(quoted));
    AppendText(quoted, program, sizeof(quoted));
    AppendText(quoted, "\"", sizeof(quoted));
    AppendText(CopyText(quiet, quoted, sizeof(quiet)), " /S", sizeof(quiet));
    SYSTEMTIME today;
    GetLocalTime(&today);
    AppendNumber(date, today.wYear * 10000u + today.wMonth * 100u + today.wDay, sizeof(date));
    DWORD kilobytes = (context.header.totalSize + 1023) / 1024, one = 1;
    // Texts first, then the numbers; an optional text the archive lacks is left out.
    const struct {
        const char* name;
        const void* value;  // a text, or a DWORD
    } values[] = {{"DisplayName", productTitle},
                  {"UninstallString", quoted},
                  {"QuietUninstallString", quiet},
                  {"InstallLocation", context.installDir},
                  {"DisplayIcon", program},
                  {"InstallDate", date},
                  {"DisplayVersion", ExtensionValue(KEY_PRODUCT_VERSION)},
                  {"Publisher", ExtensionValue(KEY_PRODUCT_PUBLISHER)},
                  {"URLInfoAbout", ExtensionValue(KEY_UNINSTALL_URL)},
                  {"EstimatedSize", &kilobytes},
                  {"NoModify", &one},
                  {"NoRepair", &one}};
    const u32 TEXTS = 9;

    HKEY key;
    int ok = RegCreateKeyExA(root, path, 0, 0, 0, KEY_SET_VALUE, 0, &key, 0) == ERROR_SUCCESS;
    for (u32 i = 0; ok && i < sizeof(values) / sizeof(values[0]); i++) {
        const BYTE* value = (const BYTE*)values[i].value;
        if (value)
            ok = RegSetValueExA(key, values[i].name, 0, i < TEXTS ? REG_SZ : REG_DWORD, value,
                                i < TEXTS ? TextLength((const char*)value) + 1 : sizeof(DWORD)) == ERROR_SUCCESS;
        if (!ok || i + 1 == sizeof(values) / sizeof(values[0]))
            RegCloseKey(key);
    }
    CopyText(detailText, rootName, TEXT_SIZE);
    AppendText(detailText, "\\", TEXT_SIZE);
    AppendText(detailText, path, TEXT_SIZE);
    LogLine("key", detailText);
    return ok ? 0 : MSG_WRITE_ERROR;
}

int PlatInstallStarting()
{
    char path[TEXT_SIZE];
    if (!KeyPath(path))
        return 0;
    HKEY root = Root();
    const char* rootName = root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU";
    InstallLogHead head = {rootName, context.installDir, createdLevels};
    int failure = InstallLogOpen(&head);
    if (failure)
        return failure;
    char log[TEXT_SIZE];
    InstallLogName(ExtensionValue(KEY_UNINSTALL_PROGRAM), log);
    if (PlatFullPath(log, detailText))
        LogLine("install log", detailText);
    return RegisterProduct(root, rootName, path);
}

u32 PlatUtf8(const char* text, char* destination, u32 capacity)
{
    WCHAR wide[INSTALL_LOG_PATH_SIZE + 64];
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, sizeof(wide) / sizeof(wide[0]));
    if (!length)
        return 0;
    length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, destination, (int)capacity, 0, 0);
    return length ? (u32)length - 1 : 0;
}
