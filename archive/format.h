// The archive format: the one place that says how an installer's archive is laid out.
// The installer reads it, the packer writes it and the lister/extractor checks it.
//
//  program file (or disk1.pak, where the archive starts at offset 0)
//  +-----------------------------+ 0
//  | installer image, zero pad   |
//  +-----------------------------+ 0xE000 (ARCHIVE_OFFSET), only when the file is larger
//  | ArchiveHeader     22 bytes  |
//  | string block   stringBlockSize bytes: NUL-ended entries, back to back
//  |    1 product title  2 window title  3 default install dir  4 post-install command
//  |    5 group name     group items at groupItemsOffset (title, path) x groupItemCount
//  |    28 messages at messagesOffset (ids 1..17, 111..121; id 120 stored +16)
//  |    [extension]: entries "key=value" behind every list above, then the trailer
//  |       "QSXT" + 8 hex digits (the offset of the first extension entry) as the
//  |       block's last entry; an archive without the trailer asks for nothing new
//  | record stream:              |
//  |   RecordHeader 15 bytes     |  type 1 file: name, u32 uncompressedSize,
//  |   [name nameLength bytes]   |     LZARI bit stream, 4 zero bytes
//  |   [payload]                 |  type 2 directory: name (create and enter)
//  |   ...                       |  type 3 up: enter ".."
//  |   RecordHeader type 4 (end) |  type 4 end
//  +-----------------------------+
//  | [certificate table]         |  a signed program: named by the PE security entry,
//  +-----------------------------+  not part of the archive
//  disk2.pak, disk3.pak, ... continue the record stream byte for byte; a volume may end
//  anywhere, inside a header, a name, a size field or a bit stream.
//
// The end of a payload is not recorded: after uncompressedSize bytes are decoded the
// reader skips up to four zero bytes (a record type is never 0). The encoder guarantees
// that the decoder's read-ahead never passes those four zero bytes.
//
// All integers are little-endian; names and texts are 8-bit ANSI.
//
// The extension. The lists above are found only through the fixed entries and the two
// offsets, so entries behind them are never reached by those rules: an archive asks for
// what it adds there. It is a run of entries "key=value" (key ASCII, value as stored
// text, in the archive's code page unless the key says otherwise) and, as the string
// block's very last entry, the trailer "QSXT" with the first extension entry's offset
// from the block's start as eight upper-case hex digits:
//
//   ... message 121 NUL | codepage=1251 NUL | uninstall.id=ExampleViewer NUL | ...
//       | QSXT000002A4 NUL                       (block end)
//
//   codepage=N            the code page of every text and name (decimal)
//   uninstall.id=ID       the Apps & features key name; present: install the uninstall
//   uninstall.program=F   the uninstaller, the stream's first file record, at the top
//   uninstall.url=U       URLInfoAbout (optional)
//   uninstall.scope=S     user: the entry goes under HKCU (a per-user install); absent or
//                         machine: under HKLM
//   product.version=V     DisplayVersion (optional)
//   product.publisher=P   Publisher (optional)
//   group.kind=K          shortcuts or dde; absent: dde, the program manager's conversation
//   text.N=T              text N of the additions: 200-206 the uninstaller's, 210 a shortcut
//                         that cannot be created (extension.h)
//
// A reader ignores keys it does not know, so a later writer may add keys freely.
#ifndef QUILL_ARCHIVE_FORMAT_H
#define QUILL_ARCHIVE_FORMAT_H

#include <stdint.h>

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;

enum {
    ARCHIVE_OFFSET = 0xE000,       // where an appended archive starts in the program file
    ARCHIVE_HEADER_SIZE = 22,
    RECORD_HEADER_SIZE = 15,
    // The installer holds every text and path in UTF-8 (on Windows converted from the
    // archive's code page and from the system's UTF-16): 255 characters take up to 765 bytes.
    TEXT_SIZE = 768,               // every path and text buffer, terminator included
    STORED_TEXT_SIZE = 256,        // a text or name as the archive stores it, terminator included
    PATH_LENGTH = 255,             // longest path, in characters
    MAX_NAME_LENGTH = 255,         // longest record name; longer ones are damage
    PADDING_SIZE = 4,              // zero bytes behind every bit stream
    STREAM_BUFFER_SIZE = 0xFFFF,   // volume input and decoder output buffers (not 65536)
    MESSAGE_COUNT = 28,            // entries of the message list
    SHIFTED_MESSAGE = 120,         // the one message stored with every byte raised by 16
    MESSAGE_SHIFT = 16,
    PE_HEADER_POINTER = 0x3C,      // the program file's offset of "PE\0\0"
    PE_SECURITY_ENTRY = 152,       // behind "PE\0\0": the PE32 security directory entry
    EXTENSION_TRAILER_SIZE = 13    // "QSXT", 8 hex digits, NUL
};

#define EXTENSION_TRAILER_TAG "QSXT"
#define KEY_CODEPAGE "codepage"
#define KEY_UNINSTALL_ID "uninstall.id"
#define KEY_UNINSTALL_PROGRAM "uninstall.program"
#define KEY_UNINSTALL_URL "uninstall.url"
#define KEY_UNINSTALL_SCOPE "uninstall.scope"
#define KEY_PRODUCT_VERSION "product.version"
#define KEY_PRODUCT_PUBLISHER "product.publisher"
#define KEY_GROUP_KIND "group.kind"
#define KEY_TEXT_PREFIX "text."   // followed by the text's id in decimal

enum RecordType {
    RECORD_FILE = 1,       // name, payload
    RECORD_DIRECTORY = 2,  // name; create the directory and enter it
    RECORD_UP = 3,         // enter the parent directory
    RECORD_END = 4         // end of the record stream
};

// Fixed string block entries, counted from 1 as NthString counts.
enum StringEntry {
    ENTRY_PRODUCT_TITLE = 1,
    ENTRY_WINDOW_TITLE = 2,
    ENTRY_INSTALL_DIR = 3,
    ENTRY_POST_INSTALL = 4,  // empty: no command
    ENTRY_GROUP_NAME = 5     // read only when groupItemCount >= 1
};

#pragma pack(push, 1)
struct ArchiveHeader {
    u32 totalSize;           // sum of all uncompressed sizes: bar range, space needed
    u32 stringBlockSize;     // bytes of the string block behind this header
    u16 groupItemCount;      // 0: no program group, the check box is disabled
    u16 reserved1;           // not read
    u8 backgroundMaximized;  // nonzero: maximised background window, 0: minimised
    u8 reserved2;            // not read
    u32 groupItemsOffset;    // from the string block's start: first item title
    u32 messagesOffset;      // from the string block's start: message 1
};

struct RecordHeader {
    u8 type;          // RecordType; never 0, which the resynchronisation relies on
    u32 attributes;   // Win32 attribute bits, file records only
    u64 fileTime;     // FILETIME, 100 ns since 1601 UTC: creation, access and write time
    u16 nameLength;   // file and directory records; at most MAX_NAME_LENGTH
};
#pragma pack(pop)

static_assert(sizeof(ArchiveHeader) == ARCHIVE_HEADER_SIZE, "archive header is 22 bytes");
static_assert(sizeof(RecordHeader) == RECORD_HEADER_SIZE, "record header is 15 bytes");
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the archive structures are read in place and need a little-endian host"
#endif

// Win32 attribute bits that the format carries.
enum {
    ATTRIBUTE_READONLY = 0x01,
    ATTRIBUTE_HIDDEN = 0x02,
    ATTRIBUTE_SYSTEM = 0x04,
    ATTRIBUTE_ARCHIVE = 0x20,
    ATTRIBUTE_NORMAL = 0x80    // none of the others: what an upgrade gives a file it replaces
};

#endif
