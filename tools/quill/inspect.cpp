#include "inspect.h"

#include <stdio.h>
#include <sys/stat.h>

#include <strings.h>

#include <map>
#include <memory>
#include <vector>

#include "archive/extension.h"
#include "archive/messages.h"
#include "pack/writer.h"
#include "codepage.h"
#include "files.h"
#include "message_sets.h"
#include "pe/image.h"
#include "pe/manifest.h"
#include "pe/resources.h"
#include "progress.h"
#include "quill.h"
#include "reader.h"
#include "source_tree.h"
#include "uninstall.h"

namespace {

std::string Utf8(const CodePage& codePage, const std::string& stored)
{
    std::string text;
    codePage.Decode(stored, text);
    return text;
}

std::string Json(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char code[8];
            snprintf(code, sizeof(code), "\\u%04x", c);
            out += code;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

// text and spaces up to width characters (not bytes: a Cyrillic letter takes two).
std::string PadColumn(const std::string& text, size_t width)
{
    std::u32string characters;
    size_t count = DecodeUtf8(text, characters) ? characters.size() : text.size();
    return count >= width ? text : text + std::string(width - count, ' ');
}

std::string AttributeLetters(u32 attributes, bool directory)
{
    std::string text = directory ? "d" : "-";
    text += attributes & ATTRIBUTE_READONLY ? 'r' : '-';
    text += attributes & ATTRIBUTE_HIDDEN ? 'h' : '-';
    text += attributes & ATTRIBUTE_SYSTEM ? 's' : '-';
    text += attributes & ATTRIBUTE_ARCHIVE ? 'a' : '-';
    u32 other = attributes & ~(u32)(ATTRIBUTE_READONLY | ATTRIBUTE_HIDDEN | ATTRIBUTE_SYSTEM | ATTRIBUTE_ARCHIVE);
    if (other) {
        char extra[16];
        snprintf(extra, sizeof(extra), "+%x", other);
        text += extra;
    }
    return text;
}

// Texts an installer would show cut or wrongly: reported, not fatal.
std::vector<std::string> MessageWarnings(const ArchiveReader& reader, const CodePage& codePage)
{
    std::vector<std::string> warnings;
    for (u32 i = 0; i < MESSAGE_COUNT; i++) {
        int id = MessageIdAt(i);
        std::string stored = reader.Message(id);
        std::string wrong = CheckMessagePlaceholders(id, Utf8(codePage, stored));
        if (wrong.empty() && stored.size() > MAX_MESSAGE_BYTES)
            wrong = std::to_string(stored.size()) + " bytes; the installer shows at most 199";
        if (!wrong.empty())
            warnings.push_back("message " + std::to_string(id) + ": " + wrong);
    }
    for (u32 n = 1; n <= 3; n++)
        if (reader.Entry(n).size() >= TEXT_SIZE)
            warnings.push_back("string block entry " + std::to_string(n) + " is longer than 255 bytes");
    return warnings;
}

// Where the code page names and texts are read in came from.
enum CodePageSource { FROM_OPTION, FROM_ARCHIVE, ASSUMED };
const char* const CODE_PAGE_SOURCES[] = {"option", "archive", "assumed"};

// The code page to show and extract in: the one asked for, else the archive's own, else
// the Western one that every archive before the extension was most likely written in.
int ArchiveCodePage(const ArchiveReader& reader, int given, CodePageSource* source = nullptr)
{
    CodePageSource from = FROM_OPTION;
    int number = given;
    std::string value;
    if (!number && reader.Extension(KEY_CODEPAGE, value) &&
        CodePage::Supported((int)ExtensionNumber(value.c_str()))) {
        number = (int)ExtensionNumber(value.c_str());
        from = FROM_ARCHIVE;
    }
    if (!number) {
        number = 1252;
        from = ASSUMED;
    }
    if (source)
        *source = from;
    return number;
}

// The line that says a code page was assumed, for test and extract.
void SayAssumedCodePage(const InspectOptions& options, CodePageSource source, int number)
{
    if (source == ASSUMED && !options.quiet)
        fprintf(stderr, "quill: %s names no code page: its names and texts are read in %d (assumed; "
                        "--codepage N to choose)\n", options.archive.c_str(), number);
}

struct ExtensionEntry {
    std::string key, value;  // value in UTF-8
};

// The string block's extension as the core reads it, checked: damage makes list and test
// fail, warnings (keys a later writer may add) do not.
struct ExtensionReview {
    bool present = false;
    std::vector<ExtensionEntry> entries;
    std::string program;      // uninstall.program as stored; "" when none
    std::vector<std::string> damage;
    std::vector<std::string> warnings;
};

bool KnownKey(const std::string& key)
{
    for (const char* known : {KEY_CODEPAGE, KEY_UNINSTALL_ID, KEY_UNINSTALL_PROGRAM, KEY_UNINSTALL_URL, KEY_UNINSTALL_SCOPE,
                              KEY_PRODUCT_VERSION, KEY_PRODUCT_PUBLISHER, KEY_GROUP_KIND})
        if (key == known)
            return true;
    return false;
}

// The N of text.N, 0 when key is none.
int TextId(const std::string& key)
{
    std::string prefix = KEY_TEXT_PREFIX;
    if (key.compare(0, prefix.size(), prefix) != 0 || key.size() == prefix.size() || key.size() > prefix.size() + 6)
        return 0;
    return (int)ExtensionNumber(key.c_str() + prefix.size());
}

ExtensionReview ReviewExtension(const ArchiveReader& reader, const CodePage& codePage)
{
    ExtensionReview review;
    review.present = reader.HasExtension();
    if (!review.present) {
        // The block ends in what a writer meant as a trailer, but the core finds none: every
        // addition the archive asks for would be lost on the user's machine.
        std::string last = reader.LastEntry();
        if (last.compare(0, 4, EXTENSION_TRAILER_TAG) == 0)
            review.damage.push_back("extension: the trailer \"" + Printable(last) +
                                    "\" is not sound (QSXT, 8 upper-case hex digits naming the first entry)");
        return review;
    }
    std::map<std::string, int> seen;
    for (const std::string& entry : reader.ExtensionEntries()) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0) {
            review.damage.push_back("extension: the entry \"" + Printable(entry) + "\" is not key=value");
            continue;
        }
        std::string key = entry.substr(0, equals);
        review.entries.push_back({key, Utf8(codePage, entry.substr(equals + 1))});
        if (seen[key]++ == 1)
            review.warnings.push_back("extension: " + Printable(key) + " is given more than once; the first counts");
    }
    std::string value;
    if (reader.Extension(KEY_CODEPAGE, value) && !CodePage::Supported((int)ExtensionNumber(value.c_str())))
        review.damage.push_back("extension: codepage=" + Printable(value) + " is not a code page (874, 1250 to 1258)");
    bool uninstall = reader.Extension(KEY_UNINSTALL_ID, value);
    if (uninstall) {
        std::string wrong = CheckUninstallId(value);
        if (wrong.empty() && value.size() > MAX_KEY_NAME_BYTES)
            wrong = "takes " + std::to_string(value.size()) + " bytes; a key name holds at most 255";
        if (!wrong.empty())
            review.damage.push_back("extension: uninstall.id \"" + Printable(Utf8(codePage, value)) + "\" " + wrong);
    }
    if (reader.Extension(KEY_UNINSTALL_PROGRAM, value)) {
        std::string wrong = CheckUninstallProgram(value);
        if (!wrong.empty())
            review.damage.push_back("extension: uninstall.program \"" + Printable(Utf8(codePage, value)) + "\" " + wrong);
        else
            review.program = value;
        if (!uninstall)
            review.warnings.push_back("extension: uninstall.program without uninstall.id: no uninstall is asked for");
    } else if (uninstall) {
        review.damage.push_back("extension: uninstall.id without uninstall.program: the installer has no uninstaller to register");
    }
    if (reader.Extension(KEY_UNINSTALL_SCOPE, value) && value != "user" && value != "machine")
        review.damage.push_back("extension: uninstall.scope=" + Printable(value) + " is neither user nor machine");
    if (reader.Extension(KEY_GROUP_KIND, value) && value != "shortcuts" && value != "dde")
        review.damage.push_back("extension: group.kind=" + Printable(value) + " is neither shortcuts nor dde");
    for (const ExtensionEntry& entry : review.entries) {
        int id = TextId(entry.key);
        if (IsAdditionText(id)) {
            std::string stored;
            reader.Extension(entry.key, stored);
            std::string wrong = CheckMessagePlaceholders(id, Utf8(codePage, stored));
            if (wrong.empty())
                wrong = CheckStoredMessage(id, stored);
            if (!wrong.empty() && seen[entry.key] == 1)
                review.damage.push_back("extension: text " + std::to_string(id) + ": " + wrong);
        } else if (!id && !KnownKey(entry.key)) {
            review.warnings.push_back("extension: unknown key " + Printable(entry.key) + " (a later writer's; ignored)");
        } else if (id) {
            review.warnings.push_back("extension: text " + std::to_string(id) + " is none this quill knows (ignored)");
        }
    }
    if (uninstall)
        for (int id = UNINSTALL_TEXT_FIRST; id <= UNINSTALL_TEXT_LAST; id++)
            if (!reader.Extension(KEY_TEXT_PREFIX + std::to_string(id), value))
                review.warnings.push_back("extension: the uninstaller's text " + std::to_string(id) + " is missing");
    return review;
}

// The uninstaller must be the stream's first file record, at the top, before every
// directory: an install broken off after it can still be removed.
std::string CheckUninstallerRecord(const ExtensionReview& review, const ArchiveRecord* first)
{
    if (review.program.empty())
        return "";
    if (!first || first->kind != ArchiveRecord::FILE || strcasecmp(first->name.c_str(), review.program.c_str()) != 0)
        return "extension: the uninstaller " + Printable(review.program) +
               " is not the record stream's first record (a file at the install directory's top)";
    return "";
}

void PrintWarnings(const std::vector<std::string>& warnings)
{
    for (const std::string& warning : warnings)
        Warn(warning);
}

// The execution level of the installer program, when the archive given is one (a
// disk1.pak is not): "" otherwise.
std::string ProgramLevel(const std::string& path)
{
    std::vector<u8> program(ARCHIVE_OFFSET);
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return "";
    program.resize(fread(program.data(), 1, program.size(), file));
    fclose(file);
    if (program.size() < 2 || program[0] != 'M' || program[1] != 'Z')
        return "";
    std::string level = ExecutionLevel(program);
    return level.empty() ? "(no manifest level)" : level;
}

// The installer program's icon 101 and the room left in front of the archive; nothing
// for a disk1.pak.
void PrintProgramIcon(const std::string& path)
{
    ProgramResources program = ReadProgramResources(path);
    if (!program.read)
        return;
    printf("icon          %zu image%s\n", program.icon.size(), program.icon.size() == 1 ? "" : "s");
    for (const ProgramIconImage& image : program.icon)
        printf("  %3ux%-3u  %2u bits  %-6s  %6u bytes\n", image.width, image.height, image.bits,
               image.png ? "PNG" : "bitmap", image.bytes);
    printf("free          %lld bytes in front of the archive\n", (long long)program.freeBytes);
}

std::string JsonProgramIcon(const std::string& path)
{
    ProgramResources program = ReadProgramResources(path);
    if (!program.read)
        return "  \"icon\": null,\n  \"freeBytes\": null,\n";
    std::string out = "  \"icon\": [";
    for (size_t i = 0; i < program.icon.size(); i++) {
        const ProgramIconImage& image = program.icon[i];
        out += std::string(i ? ", " : "") + "{\"width\": " + std::to_string(image.width) +
               ", \"height\": " + std::to_string(image.height) + ", \"bits\": " + std::to_string(image.bits) +
               ", \"bytes\": " + std::to_string(image.bytes) + ", \"format\": \"" +
               (image.png ? "png" : "bitmap") + "\"}";
    }
    return out + "],\n  \"freeBytes\": " + std::to_string(program.freeBytes) + ",\n";
}

void PrintTextHeader(const ArchiveReader& reader, const CodePage& codePage, CodePageSource codePageSource,
                     const SignatureReview& signature, const ExtensionReview& extension)
{
    const ArchiveHeader& header = reader.Header();
    printf("archive       %s\n", reader.Archive().c_str());
    for (size_t v = 0; v < reader.Volumes().size(); v++) {
        const VolumeFile& volume = reader.Volumes()[v];
        printf("%s %s, %llu bytes%s\n", v ? "             " : "volumes      ", volume.path.c_str(),
               (unsigned long long)volume.size,
               v == 0 && reader.Embedded() ? ", archive appended at 0xE000" : "");
    }
    if (signature.signedFile)
        printf("signed        %s\n", signature.summary.c_str());
    printf("total size    %u bytes\n", header.totalSize);
    printf("string block  %u bytes%s\n", header.stringBlockSize, reader.StringBlockSound() ? "" : ", DAMAGED");
    printf("background    %s\n", header.backgroundMaximized ? "maximized" : "minimized");
    printf("code page     %d (%s)\n", codePage.Number(),
           codePageSource == FROM_ARCHIVE ? "the archive's" : codePageSource == FROM_OPTION ? "--codepage"
                                                           : "assumed: the archive names none");
    std::string level = ProgramLevel(reader.Archive());
    if (!level.empty())
        printf("privileges    %s (%s)\n", PrivilegesName(level).c_str(), level.c_str());
    PrintProgramIcon(reader.Archive());
    printf("title         %s\n", Utf8(codePage, reader.Entry(1)).c_str());
    printf("window title  %s\n", Utf8(codePage, reader.Entry(2)).c_str());
    printf("install dir   %s  (%s)\n", Utf8(codePage, reader.Entry(3)).c_str(),
           Utf8(codePage, reader.DefaultInstallDir()).c_str());
    std::string post = reader.Entry(4);
    printf("post-install  %s\n", post.empty() ? "(none)" : Utf8(codePage, post).c_str());
    if (header.groupItemCount) {
        printf("group         %s, %u items\n", Utf8(codePage, reader.Entry(5)).c_str(), header.groupItemCount);
        for (u32 i = 1; i <= header.groupItemCount; i++)
            printf("  %s %s\n", PadColumn(Utf8(codePage, reader.GroupItemTitle(i)), 30).c_str(),
                   Utf8(codePage, reader.GroupItemPath(i)).c_str());
    } else {
        printf("group         (none)\n");
    }
    printf("messages\n");
    for (u32 i = 0; i < MESSAGE_COUNT; i++) {
        int id = MessageIdAt(i);
        printf("  %3d  %s\n", id, Utf8(codePage, reader.Message(id)).c_str());
    }
    if (extension.present) {
        printf("extension     %zu entries, code page %d\n", extension.entries.size(), codePage.Number());
        for (const ExtensionEntry& entry : extension.entries)
            printf("  %s %s\n", PadColumn(entry.key, 19).c_str(), entry.value.c_str());
    } else {
        printf("extension     (none)\n");
    }
    if (!extension.program.empty())
        printf("uninstaller   %s, the first file record\n", Utf8(codePage, extension.program).c_str());
    printf("files\n");
}

bool IsUninstaller(const ArchiveRecord& record, const ExtensionReview& extension)
{
    return record.index == 1 && record.kind == ArchiveRecord::FILE && !extension.program.empty() &&
           strcasecmp(record.name.c_str(), extension.program.c_str()) == 0;
}

void PrintTextRecord(const ArchiveRecord& record, const CodePage& codePage, bool uninstaller)
{
    if (record.kind == ArchiveRecord::UP)
        return;
    std::string path = Utf8(codePage, record.path);
    if (record.kind == ArchiveRecord::DIRECTORY) {
        printf("  %-6s %10s  %-19s  %s/\n", "d----", "", "", path.c_str());
        return;
    }
    printf("  %-6s %10u  %-19s  %s%s\n", AttributeLetters(record.attributes, false).c_str(), record.size,
           FormatFileTime(record.fileTime).substr(0, 19).c_str(), path.c_str(), uninstaller ? "  (uninstaller)" : "");
}

void PrintJson(const ArchiveReader& reader, const CodePage& codePage, CodePageSource codePageSource,
               const std::vector<ArchiveRecord>& records,
               const WalkResult& result, const std::vector<std::string>& warnings, const SignatureReview& signature,
               const ExtensionReview& extension)
{
    const ArchiveHeader& header = reader.Header();
    printf("{\n  \"archive\": %s,\n  \"embedded\": %s,\n  \"volumes\": [", Json(reader.Archive()).c_str(),
           reader.Embedded() ? "true" : "false");
    for (size_t v = 0; v < reader.Volumes().size(); v++)
        printf("%s{\"path\": %s, \"size\": %llu}", v ? ", " : "", Json(reader.Volumes()[v].path).c_str(),
               (unsigned long long)reader.Volumes()[v].size);
    printf("],\n  \"header\": {\"totalSize\": %u, \"stringBlockSize\": %u, \"groupItemCount\": %u, "
           "\"backgroundMaximized\": %u, \"groupItemsOffset\": %u, \"messagesOffset\": %u},\n",
           header.totalSize, header.stringBlockSize, header.groupItemCount, header.backgroundMaximized,
           header.groupItemsOffset, header.messagesOffset);
    std::string level = ProgramLevel(reader.Archive());
    printf("  \"executionLevel\": %s,\n", level.empty() ? "null" : Json(level).c_str());
    fputs(JsonProgramIcon(reader.Archive()).c_str(), stdout);
    if (signature.signedFile)
        printf("  \"signature\": {\"tableSize\": %llu, \"checked\": %s, \"subject\": %s, \"digest\": %s, "
               "\"sound\": %s},\n",
               (unsigned long long)signature.tableSize, signature.checked ? "true" : "false",
               signature.checked ? Json(signature.subject).c_str() : "null",
               signature.checked ? Json(signature.digestName).c_str() : "null",
               signature.damage.empty() ? "true" : "false");
    else
        printf("  \"signature\": null,\n");
    printf("  \"codePage\": %d,\n  \"codePageFrom\": \"%s\",\n  \"stringBlockSound\": %s,\n", codePage.Number(),
           CODE_PAGE_SOURCES[codePageSource], reader.StringBlockSound() ? "true" : "false");
    printf("  \"title\": %s,\n  \"windowTitle\": %s,\n  \"installDir\": %s,\n  \"defaultInstallDir\": %s,\n"
           "  \"postInstall\": %s,\n",
           Json(Utf8(codePage, reader.Entry(1))).c_str(), Json(Utf8(codePage, reader.Entry(2))).c_str(),
           Json(Utf8(codePage, reader.Entry(3))).c_str(), Json(Utf8(codePage, reader.DefaultInstallDir())).c_str(),
           Json(Utf8(codePage, reader.Entry(4))).c_str());
    printf("  \"group\": ");
    if (header.groupItemCount) {
        printf("{\"name\": %s, \"items\": [", Json(Utf8(codePage, reader.Entry(5))).c_str());
        for (u32 i = 1; i <= header.groupItemCount; i++)
            printf("%s{\"title\": %s, \"path\": %s}", i > 1 ? ", " : "",
                   Json(Utf8(codePage, reader.GroupItemTitle(i))).c_str(),
                   Json(Utf8(codePage, reader.GroupItemPath(i))).c_str());
        printf("]},\n");
    } else {
        printf("null,\n");
    }
    printf("  \"messages\": {");
    for (u32 i = 0; i < MESSAGE_COUNT; i++)
        printf("%s\"%d\": %s", i ? ", " : "", MessageIdAt(i), Json(Utf8(codePage, reader.Message(MessageIdAt(i)))).c_str());
    printf("},\n  \"extension\": ");
    if (extension.present) {
        printf("[");
        for (size_t i = 0; i < extension.entries.size(); i++)
            printf("%s{\"key\": %s, \"value\": %s}", i ? ", " : "", Json(extension.entries[i].key).c_str(),
                   Json(extension.entries[i].value).c_str());
        printf("],\n");
    } else {
        printf("null,\n");
    }
    const ArchiveRecord* uninstaller = !records.empty() && IsUninstaller(records[0], extension) ? &records[0] : nullptr;
    if (uninstaller)
        printf("  \"uninstaller\": {\"program\": %s, \"size\": %u, \"time\": %s, \"attributes\": %u},\n",
               Json(Utf8(codePage, uninstaller->name)).c_str(), uninstaller->size,
               Json(FormatFileTime(uninstaller->fileTime) + "Z").c_str(), uninstaller->attributes);
    else
        printf("  \"uninstaller\": null,\n");
    printf("  \"tree\": [");
    bool first = true;
    for (const ArchiveRecord& record : records) {
        if (record.kind == ArchiveRecord::UP)
            continue;
        printf("%s\n    {\"kind\": \"%s\", \"path\": %s", first ? "" : ",",
               record.kind == ArchiveRecord::FILE ? "file" : "directory", Json(Utf8(codePage, record.path)).c_str());
        if (record.kind == ArchiveRecord::FILE)
            printf(", \"size\": %u, \"time\": %s, \"fileTime\": %llu, \"attributes\": %u", record.size,
                   Json(FormatFileTime(record.fileTime) + "Z").c_str(), (unsigned long long)record.fileTime,
                   record.attributes);
        printf("}");
        first = false;
    }
    printf("\n  ],\n  \"files\": %u,\n  \"directories\": %u,\n  \"bytes\": %llu,\n", result.files,
           result.directories, (unsigned long long)result.bytes);
    printf("  \"warnings\": [");
    for (size_t i = 0; i < warnings.size(); i++)
        printf("%s%s", i ? ", " : "", Json(warnings[i]).c_str());
    printf("],\n  \"sound\": %s,\n  \"error\": %s\n}\n", result.code == EXIT_SOUND ? "true" : "false",
           result.code == EXIT_SOUND ? "null" : Json(result.message).c_str());
}

// The common end of a walk: warnings, then the failure, if any, once.
int Conclude(const std::string& archive, const WalkResult& result)
{
    PrintWarnings(result.warnings);
    if (result.code != EXIT_SOUND)
        fprintf(stderr, "quill: %s: %s\n", archive.c_str(), result.message.c_str());
    return result.code;
}

}  // namespace

// The extension's damage, once the walk has shown the first record, ends a sound walk.
void ConcludeExtension(ExtensionReview& extension, const ArchiveRecord* first, WalkResult& result,
                       std::vector<std::string>& warnings)
{
    std::string record = CheckUninstallerRecord(extension, first);
    if (!record.empty() && result.code == EXIT_SOUND)
        extension.damage.push_back(record);
    if (extension.damage.empty() || result.code != EXIT_SOUND)
        return;
    result.code = EXIT_DAMAGED;
    result.message = extension.damage[0];
    warnings.insert(warnings.end(), extension.damage.begin() + 1, extension.damage.end());
}

int List(const InspectOptions& options)
{
    ArchiveReader reader(options.archive, options.volumesDir);
    reader.Open();
    CodePageSource codePageSource;
    CodePage codePage(ArchiveCodePage(reader, options.codePage, &codePageSource));
    SignatureReview signature = ReviewSignature(reader.Archive());
    std::vector<std::string> warnings = MessageWarnings(reader, codePage);
    if (!reader.StringBlockSound())
        warnings.push_back("the string block lacks entries or its final NUL; the installer would show empty texts");
    ExtensionReview extension = ReviewExtension(reader, codePage);
    warnings.insert(warnings.end(), extension.warnings.begin(), extension.warnings.end());
    std::vector<ArchiveRecord> records;
    bool haveFirst = false;
    ArchiveRecord first{};
    WalkSettings settings;
    settings.codePage = &codePage;
    if (options.json) {
        settings.onRecord = [&](const ArchiveRecord& record) {
            records.push_back(record);
            return std::string();
        };
    } else {
        PrintTextHeader(reader, codePage, codePageSource, signature, extension);
        settings.onRecord = [&](const ArchiveRecord& record) {
            if (!haveFirst) {
                first = record;
                haveFirst = true;
            }
            PrintTextRecord(record, codePage, IsUninstaller(record, extension));
            return std::string();
        };
    }
    WalkResult result = reader.Walk(settings);
    warnings.insert(warnings.end(), result.warnings.begin(), result.warnings.end());
    if (result.code == EXIT_SOUND && !reader.StringBlockSound()) {
        result.code = EXIT_DAMAGED;
        result.message = "the string block is damaged";
    }
    ConcludeExtension(extension, options.json ? (records.empty() ? nullptr : &records[0])
                                              : (haveFirst ? &first : nullptr), result, warnings);
    if (result.code == EXIT_SOUND && !signature.damage.empty()) {
        result.code = EXIT_DAMAGED;
        result.message = signature.damage;
    }
    if (options.json) {
        PrintJson(reader, codePage, codePageSource, records, result, warnings, signature, extension);
    } else {
        printf("%u files, %u folders, %llu bytes\n", result.files, result.directories,
               (unsigned long long)result.bytes);
        PrintWarnings(warnings);
    }
    fflush(stdout);
    if (result.code != EXIT_SOUND)
        fprintf(stderr, "quill: %s: %s\n", options.archive.c_str(), result.message.c_str());
    return result.code;
}

int Test(const InspectOptions& options)
{
    ArchiveReader reader(options.archive, options.volumesDir);
    reader.Open();
    CodePageSource codePageSource;
    CodePage codePage(ArchiveCodePage(reader, options.codePage, &codePageSource));
    SayAssumedCodePage(options, codePageSource, codePage.Number());
    if (!reader.StringBlockSound())
        Fail(EXIT_DAMAGED, options.archive + ": the string block lacks entries or its final NUL");
    PrintWarnings(MessageWarnings(reader, codePage));
    ExtensionReview extension = ReviewExtension(reader, codePage);
    PrintWarnings(extension.warnings);
    Progress progress(!options.quiet, "test", reader.Header().totalSize, 0);
    WalkSettings settings;
    settings.codePage = &codePage;
    bool haveFirst = false;
    ArchiveRecord first{};
    settings.onRecord = [&](const ArchiveRecord& record) {
        if (!haveFirst) {
            first = record;
            haveFirst = true;
        }
        if (record.kind == ArchiveRecord::FILE)
            progress.Advance(record.size, 1);
        return std::string();
    };
    WalkResult result = reader.Walk(settings);
    progress.Done();
    std::vector<std::string> damage;
    ConcludeExtension(extension, haveFirst ? &first : nullptr, result, damage);
    PrintWarnings(damage);
    // The installer would write these where the archive says; a packager hears of it here.
    if (result.code == EXIT_SOUND && result.refusable) {
        result.code = EXIT_DAMAGED;
        result.message = std::to_string(result.refusable) +
                         " records leave the install directory or name what Windows would not create";
    }
    SignatureReview signature = ReviewSignature(reader.Archive());
    if (result.code == EXIT_SOUND && !signature.damage.empty()) {
        result.code = EXIT_DAMAGED;
        result.message = signature.damage;
    }
    if (result.code == EXIT_SOUND && !options.quiet && signature.signedFile)
        printf("%s: signed: %s\n", options.archive.c_str(), signature.summary.c_str());
    if (result.code == EXIT_SOUND && !options.quiet)
        printf("%s: sound: %u files, %u folders, %llu bytes in %zu volume%s\n", options.archive.c_str(),
               result.files, result.directories, (unsigned long long)result.bytes, reader.Volumes().size(),
               reader.Volumes().size() == 1 ? "" : "s");
    fflush(stdout);
    return Conclude(options.archive, result);
}

int Extract(const InspectOptions& options)
{
    ArchiveReader reader(options.archive, options.volumesDir);
    reader.Open();
    CodePageSource codePageSource;
    CodePage codePage(ArchiveCodePage(reader, options.codePage, &codePageSource));
    SayAssumedCodePage(options, codePageSource, codePage.Number());
    // Absolute: the callbacks run while the worker's current folder is somewhere inside.
    std::string target = AbsolutePath(options.target);
    MakeDirectories(target);
    std::unique_ptr<Progress> progress(new Progress(!options.quiet, "extract", reader.Header().totalSize, 0));
    WalkSettings settings;
    settings.target = target;
    settings.overwrite = options.overwrite;
    settings.codePage = &codePage;
    settings.renameToUtf8 = true;
    settings.onRecord = [&](const ArchiveRecord& record) {
        if (record.kind == ArchiveRecord::FILE) {
            progress->Advance(record.size, 1);
            if (record.kept)
                Warn("kept the existing " + record.diskPath + " (--overwrite replaces it)");
            else if (options.verbose)
                printf("%s\n", record.diskPath.c_str());
        } else if (record.kind == ArchiveRecord::DIRECTORY && options.verbose) {
            printf("%s/\n", record.diskPath.c_str());
        }
        return std::string();
    };
    WalkResult result = reader.Walk(settings);
    progress->Done();
    std::string command = reader.Entry(ENTRY_POST_INSTALL);
    if (!options.quiet && result.code == EXIT_SOUND && !command.empty())
        printf("not run: the post-install command %s\n", Utf8(codePage, command).c_str());
    if (!options.quiet)
        printf("%s %u files and %u folders, %llu bytes, into %s%s\n",
               result.code == EXIT_SOUND ? "extracted" : "extracted only", result.files - result.kept,
               result.directories, (unsigned long long)result.bytes, options.target.c_str(),
               result.kept ? (", kept " + std::to_string(result.kept) + " existing files").c_str() : "");
    fflush(stdout);
    return Conclude(options.archive, result);
}
