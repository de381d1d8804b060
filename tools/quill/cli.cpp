// The command line: subcommands, options, help texts, and the one place where a failure
// becomes a message and an exit code.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "codepage.h"
#include "inspect.h"
#include "output.h"
#include "pack.h"
#include "quill.h"

namespace {

volatile sig_atomic_t interrupted = 0;

const char* MAIN_HELP =
    "usage: quill COMMAND [options]\n"
    "\n"
    "  pack SOURCE [PROJECT] -o INSTALLER   make an installer from a folder\n"
    "  list ARCHIVE                         show the header, texts and files\n"
    "  test ARCHIVE                         decode everything and check the archive\n"
    "  extract ARCHIVE -d DIR               unpack the files under DIR\n"
    "\n"
    "ARCHIVE is an installer or a disk1.pak. \"quill COMMAND --help\" tells more.\n"
    "Exit codes: 0 sound, 1 damaged archive, 2 usage error, 3 I/O error, 130 interrupted.\n";

const char* PACK_HELP =
    "usage: quill pack SOURCE [PROJECT] -o INSTALLER [options]\n"
    "\n"
    "Packs the folder SOURCE into INSTALLER: the installer program, zero-padded to\n"
    "0xE000 bytes, with the archive appended. PROJECT is an INI file (UTF-8, \";\"\n"
    "comments) with the sections [installer], [group], [messages] and [attributes];\n"
    "every setting can also be given as an option, which wins over the file.\n"
    "\n"
    "output:\n"
    "  -o, --output FILE        the installer to write (volumes go beside it)\n"
    "  --stub FILE              the installer program (default: QUILL_STUB, else the\n"
    "                           quillstead.exe of the build)\n"
    "  --volume-size SIZE       the program alone plus disk1.pak, disk2.pak, ... of SIZE\n"
    "                           bytes: 1.44M (1457664), 720K (737280), 64K, 2M or bytes\n"
    "  --split-at SIZE          an installer of at most SIZE bytes whose archive goes on\n"
    "                           in disk2.pak, ... (of --volume-size, default SIZE)\n"
    "  --follow-symlinks        pack what symbolic links point to (default: refuse them)\n"
    "  --no-verify              do not decode the written archive back and compare\n"
    "  --sign CERT --key KEY    sign the installer (or the program of a volume set)\n"
    "                           with osslsigncode: PEM or DER certificate and key\n"
    "  --timestamp URL          an RFC 3161 time-stamp server for the signature\n"
    "  --best                   smallest archive: choose matches by their coded cost\n"
    "                           (compression = best); packs about 4x slower\n"
    "  -q, --quiet              no progress, no summary\n"
    "\n"
    "settings ([installer] unless said):\n"
    "  --title TEXT             product title (title, required)\n"
    "  --window-title TEXT      window caption (window-title; default: the title)\n"
    "  --install-dir DIR        default install directory, under Program Files unless it\n"
    "                           names a drive (install-dir, required)\n"
    "  --post-install CMD       command run after installing (post-install)\n"
    "  --background STATE       minimized (default) or maximized (background)\n"
    "  --language NAME          english, german, french or russian (language)\n"
    "  --codepage N             874 or 1250..1258; default: the language's (codepage)\n"
    "  --group-name NAME        program group ([group] name)\n"
    "  --group-item 'TITLE|PATH'  a group item, repeatable; replaces the file's items\n"
    "                           ([group] item = TITLE | PATH); PATH starting with \\ is\n"
    "                           inside the install directory\n"
    "  --group-kind KIND        shortcuts (default): the installer makes the group's\n"
    "                           folder and .lnk files in the all-users Start menu (the\n"
    "                           user's with --privileges user); dde: the program\n"
    "                           manager's DDE conversation, on which the shell opens\n"
    "                           Explorer windows on the new group, even in a silent\n"
    "                           install (two per group under Wine) ([group] kind)\n"
    "  --message ID=TEXT        replaces one message ([messages] ID = TEXT)\n"
    "  --attribute PATH=FLAGS   hidden, system, readonly for a file ([attributes])\n"
    "  --icon FILE.ico          the installer's icon (icon): each image as a bitmap or\n"
    "                           PNG, whichever is smaller; images that do not fit in\n"
    "                           front of the archive are left out, the largest first\n"
    "  --icon-xp                images below 256x256 stay bitmaps, for Windows XP\n"
    "                           (icon-xp = yes)\n"
    "  --icon-all               every image of the icon, or fail (icon-all = yes)\n"
    "  --version A.B.C.D        a version resource, product name = the title (version);\n"
    "  --company TEXT           with it (company), --description TEXT (description),\n"
    "                           --copyright TEXT (copyright)\n";

const char* LIST_HELP =
    "usage: quill list ARCHIVE [--volumes DIR] [--codepage N] [--json]\n"
    "\n"
    "Shows the archive header, the privileges the installer program asks for, its\n"
    "icon's images and the bytes left free in front of the archive, the\n"
    "string block's entries, group items and messages,\n"
    "then every folder and file with size, time (UTC) and attributes (r read-only,\n"
    "h hidden, s system, a archive). Decodes everything, so it also tests, and warns of\n"
    "every record that leaves the install directory or names a device.\n"
    "  --volumes DIR   look for disk2.pak, ... here before looking beside ARCHIVE\n"
    "  --codepage N    the code page names and texts are stored in (default 1252)\n"
    "  --json          one JSON object instead of text\n";

const char* TEST_HELP =
    "usage: quill test ARCHIVE [--volumes DIR] [--codepage N] [-q]\n"
    "\n"
    "Decodes every file with the installer's own code and checks what the format\n"
    "allows: valid record types and name lengths, each payload decoding to exactly its\n"
    "size, the sizes adding up to the header's total, nothing after the end record,\n"
    "every volume present, and no name the extractor would refuse (each such record,\n"
    "one that leaves the install directory or names a device, is warned of). Exit 0\n"
    "when sound, 1 when damaged or when such records are there.\n";

const char* EXTRACT_HELP =
    "usage: quill extract ARCHIVE -d DIR [--volumes DIR] [--codepage N] [--overwrite] [-v] [-q]\n"
    "\n"
    "Unpacks the files under DIR (created if missing), with their times and read-only\n"
    "attribute, names converted to UTF-8 from the code page (default 1252). Names with\n"
    "a drive, a root, \"..\" or a separator, and up records above DIR, are refused.\n"
    "Existing files are kept unless --overwrite. A damaged archive stops the extraction\n"
    "naming the record and where it starts; what was written stays, the file being\n"
    "written is removed.\n"
    "  -v, --verbose   name every file and folder written\n";

void OnSignal(int)
{
    interrupted = 1;
}

class Arguments {
public:
    Arguments(int argc, char** argv, int first) : args_(argv + first, argv + argc) {}

    bool Done() const { return at_ >= args_.size(); }
    const std::string& Peek() const { return args_[at_]; }
    std::string Next() { return args_[at_++]; }

    // The value of an option given as "--name value" or "--name=value".
    bool Take(const std::string& arg, std::initializer_list<const char*> names, std::string& value)
    {
        for (const char* name : names) {
            std::string n = name;
            if (arg == n) {
                if (Done())
                    Fail(EXIT_USAGE, n + " needs a value");
                value = Next();
                return true;
            }
            if (n.size() > 2 && arg.compare(0, n.size() + 1, n + "=") == 0) {
                value = arg.substr(n.size() + 1);
                return true;
            }
        }
        return false;
    }

private:
    std::vector<std::string> args_;
    size_t at_ = 0;
};

bool IsHelp(const std::string& arg)
{
    return arg == "-h" || arg == "--help";
}

[[noreturn]] void UnknownOption(const std::string& command, const std::string& arg)
{
    Fail(EXIT_USAGE, command + ": unknown option " + arg + " (quill " + command + " --help)");
}

int ParseCodePage(const std::string& value)
{
    char* end = nullptr;
    long number = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || !CodePage::Supported((int)number))
        Fail(EXIT_USAGE, "--codepage " + value + ": not supported (874 or 1250 to 1258)");
    return (int)number;
}

u64 ParseSizeOption(const std::string& option, const std::string& value)
{
    u64 size;
    if (!ParseSize(value, size))
        Fail(EXIT_USAGE, option + " " + value + ": a size is 1.44M, 720K, a number with K or M, or bytes");
    if (size == 0)
        Fail(EXIT_USAGE, option + " " + value + ": a volume holds at least one byte");
    // A volume's size is read in 32 bits by the installer.
    if (size > 0xFFFFFFFFull)
        Fail(EXIT_USAGE, option + " " + value + ": larger than a volume can be (4294967295 bytes)");
    return size;
}

// Options that stand for a project file setting: [section] key.
struct SettingOption {
    const char* option;
    const char* section;
    const char* key;
};
const SettingOption SETTING_OPTIONS[] = {
    {"--title", "installer", "title"},
    {"--window-title", "installer", "window-title"},
    {"--install-dir", "installer", "install-dir"},
    {"--post-install", "installer", "post-install"},
    {"--background", "installer", "background"},
    {"--privileges", "installer", "privileges"},
    {"--language", "installer", "language"},
    {"--codepage", "installer", "codepage"},
    {"--icon", "installer", "icon"},
    {"--version", "installer", "version"},
    {"--company", "installer", "company"},
    {"--description", "installer", "description"},
    {"--copyright", "installer", "copyright"},
    {"--uninstall-id", "uninstall", "id"},
    {"--uninstall-program", "uninstall", "program"},
    {"--uninstall-url", "uninstall", "url"},
    {"--uninstall-description", "uninstall", "description"},
    {"--package-id", "winget", "package-id"},
    {"--installer-url", "winget", "installer-url"},
    {"--license", "winget", "license"},
    {"--group-name", "group", "name"},
    {"--group-item", "group", "item"},
    {"--group-kind", "group", "kind"},
};

const SettingOption* TakeSetting(Arguments& args, const std::string& arg, std::string& value)
{
    for (const SettingOption& setting : SETTING_OPTIONS)
        if (args.Take(arg, {setting.option}, value))
            return &setting;
    return nullptr;
}

int RunPack(Arguments& args)
{
    PackOptions options;
    std::vector<std::string> positional;
    struct Override {
        std::string section, key, value, origin;
    };
    std::vector<Override> overrides;
    std::string value, volumeSize, splitAt;
    while (!args.Done()) {
        std::string arg = args.Next();
        if (IsHelp(arg)) {
            fputs(PACK_HELP, stdout);
            return EXIT_SOUND;
        }
        if (args.Take(arg, {"-o", "--output"}, options.output) || args.Take(arg, {"--stub"}, options.stub) ||
            args.Take(arg, {"--uninstaller"}, options.uninstaller) || args.Take(arg, {"--winget"}, options.wingetDir) ||
            args.Take(arg, {"--volume-size"}, volumeSize) || args.Take(arg, {"--split-at"}, splitAt) ||
            args.Take(arg, {"--sign"}, options.signing.certificate) || args.Take(arg, {"--key"}, options.signing.key) ||
            args.Take(arg, {"--timestamp"}, options.signing.timestamp))
            continue;
        if (arg == "--follow-symlinks") {
            options.followSymlinks = true;
        } else if (arg == "--no-verify") {
            options.verify = false;
        } else if (arg == "--no-uninstall") {
            overrides.push_back({"uninstall", "enabled", "no", "--no-uninstall"});
        } else if (arg == "--best") {
            options.best = true;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--icon-xp" || arg == "--icon-all") {
            overrides.push_back({"installer", arg.substr(2), "yes", arg});
        } else if (const SettingOption* setting = TakeSetting(args, arg, value)) {
            overrides.push_back({setting->section, setting->key, value, setting->option});
        } else if (args.Take(arg, {"--message"}, value) || args.Take(arg, {"--attribute"}, value)) {
            bool message = arg.compare(0, 9, "--message") == 0;
            size_t equals = value.find('=');
            if (equals == std::string::npos)
                Fail(EXIT_USAGE, std::string(message ? "--message ID=TEXT" : "--attribute PATH=FLAGS") +
                                     ", not " + value);
            overrides.push_back({message ? "messages" : "attributes", value.substr(0, equals),
                                 value.substr(equals + 1), message ? "--message" : "--attribute"});
        } else if (arg.size() > 1 && arg[0] == '-') {
            UnknownOption("pack", arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty() || positional.size() > 2)
        Fail(EXIT_USAGE, "pack: give SOURCE and at most one PROJECT file (quill pack --help)");
    if (options.output.empty())
        Fail(EXIT_USAGE, "pack: -o INSTALLER is missing");
    if (options.signing.certificate.empty() != options.signing.key.empty() ||
        (options.signing.certificate.empty() && !options.signing.timestamp.empty()))
        Fail(EXIT_USAGE, "pack: signing takes --sign CERT and --key KEY together (--timestamp URL with them)");
    options.source = positional[0];
    if (positional.size() == 2)
        ReadProjectFile(positional[1], options.settings);
    for (const Override& o : overrides) {
        if (o.key == "item" && !options.settings.groupItemsFromOptions) {
            options.settings.groupItems.clear();
            options.settings.groupItemsFromOptions = true;
        }
        ApplySetting(options.settings, o.section, o.key, o.value, o.origin);
    }
    if (!splitAt.empty()) {
        options.layout.kind = OutputLayout::SPLIT;
        options.layout.firstSize = ParseSizeOption("--split-at", splitAt);
        options.layout.volumeSize = volumeSize.empty() ? options.layout.firstSize
                                                       : ParseSizeOption("--volume-size", volumeSize);
    } else if (!volumeSize.empty()) {
        options.layout.kind = OutputLayout::VOLUMES;
        options.layout.volumeSize = ParseSizeOption("--volume-size", volumeSize);
    }
    return Pack(options);
}

int RunInspect(const std::string& command, Arguments& args)
{
    InspectOptions options;
    std::vector<std::string> positional;
    std::string value;
    const char* help = command == "list" ? LIST_HELP : command == "test" ? TEST_HELP : EXTRACT_HELP;
    while (!args.Done()) {
        std::string arg = args.Next();
        if (IsHelp(arg)) {
            fputs(help, stdout);
            return EXIT_SOUND;
        }
        if (args.Take(arg, {"--volumes"}, options.volumesDir))
            continue;
        if (args.Take(arg, {"--codepage"}, value)) {
            options.codePage = ParseCodePage(value);
        } else if (command == "list" && arg == "--json") {
            options.json = true;
        } else if (command == "extract" && args.Take(arg, {"-d", "--directory"}, options.target)) {
        } else if (command == "extract" && arg == "--overwrite") {
            options.overwrite = true;
        } else if (command == "extract" && (arg == "-v" || arg == "--verbose")) {
            options.verbose = true;
        } else if (command != "list" && (arg == "-q" || arg == "--quiet")) {
            options.quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            UnknownOption(command, arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 1)
        Fail(EXIT_USAGE, command + ": give one ARCHIVE (quill " + command + " --help)");
    options.archive = positional[0];
    if (command == "list")
        return List(options);
    if (command == "test")
        return Test(options);
    if (options.target.empty())
        Fail(EXIT_USAGE, "extract: -d DIR is missing");
    return Extract(options);
}

int Dispatch(int argc, char** argv)
{
    if (argc < 2) {
        fputs(MAIN_HELP, stderr);
        return EXIT_USAGE;
    }
    std::string command = argv[1];
    if (IsHelp(command) || command == "help") {
        std::string topic = argc > 2 ? argv[2] : "";
        fputs(topic == "pack" ? PACK_HELP : topic == "list" ? LIST_HELP : topic == "test" ? TEST_HELP
              : topic == "extract" ? EXTRACT_HELP : MAIN_HELP, stdout);
        return EXIT_SOUND;
    }
    Arguments args(argc, argv, 2);
    if (command == "pack")
        return RunPack(args);
    if (command == "list" || command == "test" || command == "extract")
        return RunInspect(command, args);
    Fail(EXIT_USAGE, "unknown command " + command + " (quill --help)");
}

}  // namespace

void Fail(int code, const std::string& message)
{
    throw Failure{code, message};
}

void FailErrno(const std::string& what)
{
    Fail(EXIT_IO, what + ": " + strerror(errno));
}

bool Interrupted()
{
    return interrupted != 0;
}

void ResetInterrupted()
{
    interrupted = 0;
}

void Warn(const std::string& message)
{
    fflush(stdout);
    fprintf(stderr, "quill: warning: %s\n", message.c_str());
}

int QuillMain(int argc, char** argv)
{
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    int code;
    try {
        code = Dispatch(argc, argv);
    } catch (const Failure& failure) {
        fflush(stdout);
        fprintf(stderr, "quill: %s\n", failure.message.c_str());
        code = failure.code;
    } catch (const std::bad_alloc&) {
        fflush(stdout);
        fprintf(stderr, "quill: out of memory\n");
        code = EXIT_IO;
    }
    fflush(stdout);
    fflush(stderr);
    return code;
}
