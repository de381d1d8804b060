// The installer's texts and the system's: every text and path inside the installer is
// UTF-8, the archive's texts converted from its code page as they are read, and crosses
// to the system as UTF-16 through the wide calls. A path the archive's code page cannot
// spell (a user's folder in another script) is therefore still reached.
#include "ui.h"

#include "../archive/extension.h"

// The code page the archive's texts and names were written in: its extension's, or the
// system's for an archive that names none.
static UINT ArchiveCodePage()
{
    static UINT known;  // the code page plus one; 0 until it has been looked up
    if (!known)
        known = ExtensionNumber(ExtensionValue(KEY_CODEPAGE)) + 1;
    return known - 1;
}

BYTE ArchiveCharset()
{
    // The character sets of code pages 1250 to 1258, and Thai's; an archive that names
    // no code page keeps the one its title was always drawn with.
    static const BYTE charsets[] = {EASTEUROPE_CHARSET, RUSSIAN_CHARSET, ANSI_CHARSET, GREEK_CHARSET,
                                    TURKISH_CHARSET, HEBREW_CHARSET, ARABIC_CHARSET, BALTIC_CHARSET,
                                    VIETNAMESE_CHARSET};
    UINT codePage = ArchiveCodePage();
    if (codePage == 874)
        return THAI_CHARSET;
    return codePage - 1250 < sizeof(charsets) ? charsets[codePage - 1250] : ANSI_CHARSET;
}

WCHAR* WideIn(const char* text, WCHAR* wide, u32 capacity)
{
    // A UTF-8 byte gives one UTF-16 unit at most: so many bytes always fit, and a text
    // of TEXT_SIZE bytes into WIDE_SIZE units is never cut.
    u32 length = TextLength(text);
    if (length > capacity - 1)
        length = capacity - 1;
    wide[length ? MultiByteToWideChar(CP_UTF8, 0, text, (int)length, wide, (int)capacity - 1) : 0] = 0;
    return wide;
}

WCHAR* Wide(const char* text, WCHAR* wide)
{
    return WideIn(text, wide, WIDE_SIZE);
}

u32 Narrow(const WCHAR* wide, char* text, u32 capacity)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, (int)capacity, 0, 0);
    if (!length)
        text[0] = 0;
    return length ? (u32)length - 1 : 0;
}

// The common case as a call of its own: one argument less at each use.
__attribute__((noinline)) u32 Narrow(const WCHAR* wide, char* text)
{
    return Narrow(wide, text, TEXT_SIZE);
}

u32 PlatArchiveText(const char* stored, char* destination, u32 capacity)
{
    WCHAR wide[WIDE_SIZE];
    if (!MultiByteToWideChar(ArchiveCodePage(), 0, stored, -1, wide, WIDE_SIZE))
        wide[0] = 0;
    return Narrow(wide, destination, capacity);
}

void SetText(HWND window, const char* text)
{
    WCHAR wide[WIDE_SIZE];
    SetWindowTextW(window, Wide(text, wide));
}

void SetItemText(HWND dialog, int control, const char* text)
{
    SetText(GetDlgItem(dialog, control), text);
}

u32 GetItemText(HWND dialog, int control, char* text)
{
    // 255 characters at most, as every path: a longer text arrives cut, to be refused
    // by the path's rules or taken as the user typed it.
    WCHAR wide[PATH_LENGTH + 1];
    if (!GetDlgItemTextW(dialog, control, wide, PATH_LENGTH + 1))
        wide[0] = 0;
    return Narrow(wide, text);
}

int ReadRegistryText(HKEY root, const char* keyPath, const WCHAR* name, char* text)
{
    WCHAR wide[WIDE_SIZE];
    HKEY opened;
    if (RegOpenKeyExW(root, Wide(keyPath, wide), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return 0;
    HKEY key = opened;  // not read back from the stack for each call
    // One character kept back: a stored value need not end with a NUL.
    DWORD size = PATH_LENGTH * sizeof(WCHAR), type;
    LONG status = RegQueryValueExW(key, name, 0, &type, (BYTE*)wide, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return 0;
    wide[size / sizeof(WCHAR)] = 0;
    return wide[0] ? (int)Narrow(wide, text) : 0;  // its length
}
