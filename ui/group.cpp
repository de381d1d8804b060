// The program group, created through a DDE conversation with the shell's program manager
// once extraction has finished and the user left "Create folder" checked.
//
// The command string travels in a shared global block that is posted: only posted DDE
// messages carry their data to another process. The block belongs to the conversation
// until the program manager acknowledges the execute (positively or not); then it is freed
// and the conversation terminated. Nothing waits for an answer: without one the install
// ends as usual and the block goes with the process.
#include "ui.h"

#include <dde.h>

// The SDK declares it without dllimport, so a call would go through the import library's
// jump, whose address ld leaves out of the base relocation table under this program's
// linker script: moved by address-space randomisation, the jump would land elsewhere.
// Through the import address table, as every other call goes, it is relocated.
extern "C" __declspec(dllimport) BOOL WINAPI FreeDDElParam(UINT, LPARAM);

#include "shell_text.h"
#include "../archive/held.h"
#include "../archive/abort.h"
#include "../archive/archive.h"
#include "../archive/context.h"
#include "../archive/platform.h"
#include "../extract/install_log.h"

static const char programManager[] = "PROGMAN";  // the application and its topic

// The conversation's state, in one record so that its answers reach it through one address.
static struct {
    int awaitingAck;  // the initiate is out; the first ack naming PROGMAN is taken
    HWND server;      // the program manager's window while the execute is out; 0 else
    HGLOBAL block;    // the posted command string, until its acknowledgement
} dde;

// The texts of one command, off the stack (the interface thread alone talks to the shell).
// The group's name is read once, when the conversation starts.
static struct {
    char group[TEXT_SIZE], name[TEXT_SIZE], joined[2 * TEXT_SIZE], shortPath[TEXT_SIZE];
    WCHAR wide[WIDE_SIZE], shortWide[WIDE_SIZE];
} command;

// Writes the whole command string in UTF-8 into out (capacity bytes; 0 only counts) and
// returns its length. An item's path is sent in its short form when it has one; a text
// that is not a plain path (a program with arguments) has none and is sent whole. An item
// whose joined path would pass 511 characters is left out: no shell takes such a path.
static u32 BuildCommands(char* out, u32 capacity)
{
    auto& c = *Held(&command);
    char* name = c.name;
    u32 length = PutCommand(out, capacity, 0, GROUP_CREATE_FORMAT, c.group, c.group);
    u32 items = context.header.groupItemsOffset;
    for (u32 i = 1; i <= context.header.groupItemCount; i++) {
        StringBlockText(items, 2 * i, name);
        if (!JoinItemPath(c.joined, sizeof(c.joined), context.installDir, name))
            continue;
        const char* sent = c.joined;
        DWORD shortLength = TextLength(sent) < TEXT_SIZE
                                ? GetShortPathNameW(Wide(sent, c.wide), c.shortWide, WIDE_SIZE)
                                : 0;
        if (shortLength && shortLength < WIDE_SIZE && Narrow(c.shortWide, c.shortPath))
            sent = c.shortPath;
        StringBlockText(items, 2 * i - 1, name);
        length = PutCommand(out, capacity, length, GROUP_ADD_ITEM_FORMAT, sent, name);
    }
    return length;
}

static void EndConversation(HWND client)
{
    GlobalFree(Taken(&dde.block));
    PostMessageA(Taken(&dde.server), WM_DDE_TERMINATE, (WPARAM)client, 0);
}

static void SendGroupCommands(HWND server, HWND client)
{
    auto& d = *Held(&dde);
    d.server = server;
    // Built in UTF-8 and posted in UTF-16, as a Unicode window's execute travels: the
    // system converts it for a program manager that reads ANSI.
    u32 size = BuildCommands(0, 0) + 1;
    char* text = (char*)PlatAlloc(size);
    // The block in a local as well: the calls below cannot change it.
    HGLOBAL block = text ? GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size * sizeof(WCHAR)) : 0;
    d.block = block;
    WCHAR* wide = block ? (WCHAR*)GlobalLock(block) : 0;
    if (wide) {
        // The heap's block comes zeroed: its last byte, left out of the build, ends the text.
        BuildCommands(text, size - 1);
        MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, (int)size);
        GlobalUnlock(block);
    }
    PlatFree(text);
    if (!wide || !PostMessageA(server, WM_DDE_EXECUTE, (WPARAM)client, (LPARAM)block))
        EndConversation(client);
}

// The name is read and logged once for either way of making the group: the shortcuts,
// when the archive asks for them, or else the conversation.
void CreateGroup(HWND client)
{
    if (!context.createGroup)
        return;
    char* name = Held(command.group);
    StringBlockText(0, ENTRY_GROUP_NAME, name);
    LogLine("group", name);
    if (CreateShortcuts(name))
        return;
    // A name the conversation cannot carry as written made no group to remove.
    if (InstallLogGroupNameSound(name))
        InstallLogEntry("dde-group", name);
    // The application and the topic have one name, so one atom names both.
    ATOM atom = GlobalAddAtomA(programManager);
    dde.awaitingAck = 1;
    // A hung top-level window must not hold the install: each gets a second to answer.
    DWORD_PTR answer;
    SendMessageTimeoutA(HWND_BROADCAST, WM_DDE_INITIATE, (WPARAM)client, MAKELPARAM(atom, atom),
                        SMTO_ABORTIFHUNG, 1000, &answer);
    // Every server that answers has made atoms of its own by now.
    GlobalDeleteAtom(atom);
}

void ContinueGroupConversation(HWND client, WPARAM wParam, LPARAM lParam)
{
    HWND server = (HWND)wParam;
    auto& d = *Held(&dde);
    if (d.awaitingAck) {
        // The answer to the initiate: its atoms name the application and the topic.
        char name[TEXT_SIZE];
        name[0] = 0;
        ATOM application = LOWORD(lParam);
        GlobalGetAtomNameA(application, name, TEXT_SIZE);
        if (lstrcmpiA(name, programManager))
            return;
        d.awaitingAck = 0;
        GlobalDeleteAtom(application);
        GlobalDeleteAtom(HIWORD(lParam));
        if (server)
            SendGroupCommands(server, client);
        return;
    }
    // The answer to the execute; another server's late answer to the initiate is ignored.
    // The server is set while the block is out, and only then (both are taken together).
    if (server && server == d.server) {
        FreeDDElParam(WM_DDE_ACK, lParam);
        EndConversation(client);
    }
}

int GroupConversationRunning()
{
    // Waiting for the program manager to answer the initiate, or for its answer to the
    // execute: the silent install keeps the messages coming until neither is out.
    return dde.awaitingAck || dde.block;
}
