#include "archive.h"

#include "abort.h"
#include "context.h"
#include "messages.h"
#include "text.h"
#include "volume.h"

InstallContext context;
char programDir[TEXT_SIZE];
char firstVolumePath[TEXT_SIZE];
char archiveDir[TEXT_SIZE];
char productTitle[TEXT_SIZE];
char windowTitle[TEXT_SIZE];
char detailText[TEXT_SIZE];

const char* NthString(const char* list, const char* end, u32 n)
{
    if (list >= end)
        return end;
    for (; n > 1; n--) {
        while (list < end && *list)
            list++;
        if (list >= end)
            return end;
        list++;  // past the NUL
    }
    return list;
}

const char* StringBlockEnd()
{
    if (!context.stringBlock)
        return 0;
    return context.stringBlock + context.header.stringBlockSize;
}

const char* StringBlockEntry(u32 offset, u32 n)
{
    if (!context.stringBlock)
        return "";
    const char* end = StringBlockEnd();
    if (offset >= context.header.stringBlockSize)
        return end;
    return NthString(context.stringBlock + offset, end, n);
}

__attribute__((noinline)) u32 ArchiveText(const char* stored, char* destination)
{
    return PlatArchiveText(stored, destination, TEXT_SIZE);
}

char* StringBlockText(u32 offset, u32 n, char* destination)
{
    ArchiveText(StringBlockEntry(offset, n), destination);
    return destination;
}

void DefaultInstallDirectory(const char* entry, const char* programFiles, char* destination)
{
    destination[0] = 0;
    if (!entry[0] || entry[1] != ':') {
        // The base without its trailing backslash, then one backslash and the entry.
        DropTrailingBackslash(CopyText(destination, programFiles ? programFiles : "c:"));
        if (entry[0] != '\\')
            AppendText(destination, "\\");
    }
    AppendText(destination, entry);
}

int StringBlockIsSound(const char* block, u32 size, const ArchiveHeader* header)
{
    if (size == 0 || block[size - 1] != 0)
        return 0;
    const char* end = block + size;
    // The entry n of a list exists when fewer than n - 1 NULs end the scan before it: the
    // lookup of the last entry must start inside the block.
    if (NthString(block, end, 4) >= end)
        return 0;
    if (header->messagesOffset >= size || NthString(block + header->messagesOffset, end, MESSAGE_COUNT) >= end)
        return 0;
    if (header->groupItemCount) {
        if (NthString(block, end, ENTRY_GROUP_NAME) >= end)
            return 0;
        if (header->groupItemsOffset >= size ||
            NthString(block + header->groupItemsOffset, end, 2u * header->groupItemCount) >= end)
            return 0;
    }
    return 1;
}

void FreeStringBlock()
{
    if (char* block = Taken(&context.stringBlock))
        PlatFree(block);
}

u32 ProgramImageEnd(FileHandle file, u32 fileSize)
{
    // e_lfanew at 0x3C; behind "PE\0\0" the file header (20 bytes), then the PE32
    // optional header (magic 0x10B) whose data directory 4 is the security entry. Read
    // in place as words, as the archive's structures are (a little-endian host).
    static_assert(PE_SECURITY_ENTRY % 4 == 0, "the security entry is a whole word of pe");
    u32 header;
    u32 pe[(PE_SECURITY_ENTRY + 8) / 4];
    const u8* bytes = (const u8*)pe;
    int ok = 1;
    if (!PlatSeek(file, PE_HEADER_POINTER) || PlatRead(file, &header, 4, &ok) != 4)
        return fileSize;
    if (header >= ARCHIVE_OFFSET || !PlatSeek(file, header) || PlatRead(file, pe, sizeof(pe), &ok) != sizeof(pe))
        return fileSize;
    u32 offset = pe[PE_SECURITY_ENTRY / 4];
    u32 size = pe[PE_SECURITY_ENTRY / 4 + 1];
    // "PE\0\0" is the word 0x4550; the magic is the low half of the word at 24.
    if (pe[0] != 0x4550 || (u16)pe[6] != 0x10B || bytes[116] < 5)
        return fileSize;
    // An empty table (size 0) yields fileSize either way.
    if (offset <= fileSize && fileSize - offset == size)
        return offset;
    return fileSize;
}

static void ShowStartupError(const char* text)
{
    PlatMessageBox(0, text, TEXT_ERROR_CAPTION, BOX_ICON_ERROR);
}

static void ClearContext()
{
    // Value-initialised: every field zero, cleared by one block store rather than a loop.
    context = InstallContext();
}

static void ShowCantOpen(const char* path)
{
    char text[TEXT_SIZE + 16];
    FormatWithText(text, sizeof(text), TEXT_DONT_OPEN, path);
    ShowStartupError(text);
}

// Reads the header and the string block of volume 1 (file, the archive appended to the
// program when embedded is 1, else at its start), closes the file and derives the titles
// and the default install directory.
static int ReadArchiveStart(FileHandle file, u32 embedded)
{
    context.embedded = embedded;
    u32 start = embedded ? ARCHIVE_OFFSET : 0;
    u32 fileSize = embedded ? context.programFileSize : PlatFileSize(file);

    // One way out for both failures: the file closed, then the text shown.
    const char* failure = TEXT_READING_HEADER;
    int ok = PlatSeek(file, start);
    u32 got = ok ? PlatRead(file, &context.header, ARCHIVE_HEADER_SIZE, &ok) : 0;
    if (ok && got == ARCHIVE_HEADER_SIZE) {
        // The block lies wholly in volume 1: a size beyond the file is damage, refused
        // before allocating so that a broken header cannot ask for gigabytes.
        failure = TEXT_READING_RESOURCE;
        u32 size = context.header.stringBlockSize;
        u32 room = fileSize - start - ARCHIVE_HEADER_SIZE;
        char* block = 0;
        if (size <= room)
            block = (char*)PlatAlloc(size + 1);  // + the guard NUL that ends every lookup
        if (block) {
            got = PlatRead(file, block, size, &ok);
            if (ok && got == size) {
                context.stringBlock = block;
                failure = 0;
            } else {
                PlatFree(block);
            }
        }
    }
    PlatClose(file);
    if (failure) {
        ShowStartupError(failure);
        return 0;
    }

    StringBlockText(0, ENTRY_PRODUCT_TITLE, productTitle);
    StringBlockText(0, ENTRY_WINDOW_TITLE, windowTitle);
    char programFiles[TEXT_SIZE], entry[TEXT_SIZE];
    int haveProgramFiles = PlatProgramFilesDir(programFiles);
    StringBlockText(0, ENTRY_INSTALL_DIR, entry);
    // Without the registry value the base is "c:", as DefaultInstallDirectory makes of 0:
    // given here, its inlined copy needs no test of its own.
    DefaultInstallDirectory(entry, haveProgramFiles ? programFiles : "c:", context.installDir);
    return 1;
}

// Fresh context and texts for volume 1 at path, the program's directory beside it. Opens
// the file and takes its size; 0 after telling the user it cannot be opened.
static FileHandle StartAt(const char* path)
{
    ClearContext();
    CopyText(firstVolumePath, path);
    DirectoryOfPath(path, programDir);
    DirectoryOfPath(path, archiveDir);
    FileHandle file = PlatOpenRead(path);
    if (!file)
        ShowCantOpen(path);
    else
        context.programFileSize = ProgramImageEnd(file, PlatFileSize(file));
    return file;
}

int OpenArchive()
{
    char programPath[TEXT_SIZE];
    programPath[0] = 0;
    PlatProgramPath(programPath);
    FileHandle file = StartAt(programPath);
    if (!file)
        return 0;
    u32 embedded = context.programFileSize > ARCHIVE_OFFSET;
    if (!embedded) {
        PlatClose(file);
        char path[TEXT_SIZE];
        VolumePath(programDir, 1, path);
        for (;;) {
            CopyText(firstVolumePath, path);
            file = PlatOpenRead(firstVolumePath);
            if (file)
                break;
            if (!AskForVolume(1, path))
                return 0;
        }
    }
    return ReadArchiveStart(file, embedded);
}

int OpenArchiveFile(const char* path, int embedded)
{
    FileHandle file = StartAt(path);
    if (!file)
        return 0;
    return ReadArchiveStart(file, embedded ? 1 : 0);
}
