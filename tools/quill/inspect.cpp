#include "inspect.h"

#include <stdio.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

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

void PrintTextHeader(const ArchiveReader& reader, const CodePage& codePage, const SignatureReview& signature)
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
    printf("files\n");
}

void PrintTextRecord(const ArchiveRecord& record, const CodePage& codePage)
{
    if (record.kind == ArchiveRecord::UP)
        return;
    std::string path = Utf8(codePage, record.path);
    if (record.kind == ArchiveRecord::DIRECTORY) {
        printf("  %-6s %10s  %-19s  %s/\n", "d----", "", "", path.c_str());
        return;
    }
    printf("  %-6s %10u  %-19s  %s\n", AttributeLetters(record.attributes, false).c_str(), record.size,
           FormatFileTime(record.fileTime).substr(0, 19).c_str(), path.c_str());
}

void PrintJson(const ArchiveReader& reader, const CodePage& codePage, const std::vector<ArchiveRecord>& records,
               const WalkResult& result, const std::vector<std::string>& warnings, const SignatureReview& signature)
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
    printf("  \"codePage\": %d,\n  \"stringBlockSound\": %s,\n", codePage.Number(),
           reader.StringBlockSound() ? "true" : "false");
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
    printf("},\n  \"tree\": [");
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

int List(const InspectOptions& options)
{
    CodePage codePage(options.codePage);
    ArchiveReader reader(options.archive, options.volumesDir);
    reader.Open();
    SignatureReview signature = ReviewSignature(reader.Archive());
    std::vector<std::string> warnings = MessageWarnings(reader, codePage);
    if (!reader.StringBlockSound())
        warnings.push_back("the string block lacks entries or its final NUL; the installer would show empty texts");
    std::vector<ArchiveRecord> records;
    WalkSettings settings;
    settings.codePage = &codePage;
    if (options.json) {
        settings.onRecord = [&](const ArchiveRecord& record) {
            records.push_back(record);
            return std::string();
        };
    } else {
        PrintTextHeader(reader, codePage, signature);
        settings.onRecord = [&](const ArchiveRecord& record) {
            PrintTextRecord(record, codePage);
            return std::string();
        };
    }
    WalkResult result = reader.Walk(settings);
    warnings.insert(warnings.end(), result.warnings.begin(), result.warnings.end());
    if (result.code == EXIT_SOUND && !reader.StringBlockSound()) {
        result.code = EXIT_DAMAGED;
        result.message = "the string block is damaged";
    }
    if (result.code == EXIT_SOUND && !signature.damage.empty()) {
        result.code = EXIT_DAMAGED;
        result.message = signature.damage;
    }
    if (options.json) {
        PrintJson(reader, codePage, records, result, warnings, signature);
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
    CodePage codePage(options.codePage);
    ArchiveReader reader(options.archive, options.volumesDir);
    reader.Open();
    if (!reader.StringBlockSound())
        Fail(EXIT_DAMAGED, options.archive + ": the string block lacks entries or its final NUL");
    PrintWarnings(MessageWarnings(reader, codePage));
    Progress progress(!options.quiet, "test", reader.Header().totalSize, 0);
    WalkSettings settings;
    settings.codePage = &codePage;
    settings.onRecord = [&](const ArchiveRecord& record) {
        if (record.kind == ArchiveRecord::FILE)
            progress.Advance(record.size, 1);
        return std::string();
    };
    WalkResult result = reader.Walk(settings);
    progress.Done();
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
    CodePage codePage(options.codePage);
    ArchiveReader reader(options.archive, options.volumesDir);
    reader.Open();
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
