// The uninstall as quill packs and checks it: the [uninstall] settings and the id's
// derivation, the uninstaller packed first and as asked for, the extension list and test
// read back and refuse, the uninstaller's texts, and the winget manifest set.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "archive/extension.h"
#include "codepage.h"
#include "message_sets.h"
#include "project.h"
#include "test_quill_support.h"
#include "uninstall.h"

namespace {

const long long EPOCH = 1700000000;  // 2023-11-14 22:13:20 UTC

class QuillUninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeDir(dir / "src");
        MakeDir(dir / "src/docs");
        WriteBytes(dir / "src/readme.txt", TextBytes("read me\r\n"));
        WriteBytes(dir / "src/docs/uninstall.exe", TextBytes("not at the top: no clash"));
        MakeDir(dir / "programs");
        stub = WriteStub(dir.Path());
        uninstaller = WriteStub(dir / "programs", 3000);
    }

    std::vector<std::string> Args(const std::string& output, std::initializer_list<std::string> more = {})
    {
        std::vector<std::string> args = {"pack", dir / "src", "-o", output, "--stub", stub, "--uninstaller",
                                         uninstaller, "--title", "Example \\Viewer\t", "--install-dir", "Ex", "-q"};
        args.insert(args.end(), more);
        return args;
    }

    TempDir dir;
    std::string stub, uninstaller;
};

// What python3 prints of expression over the JSON file (d).
std::string FromJson(const std::string& archive, const std::string& expression)
{
    ShellRun run = RunShell("python3 -c 'import json,sys; d=json.load(sys.stdin); print(" + expression + ")' < " +
                            archive);
    return run.out;
}

}  // namespace

TEST(QuillUninstallRules, IdDerivedFromTheTitleAndChecked)
{
    EXPECT_EQ("Example Viewer", DefaultUninstallId("  Example\\ Viewer\x01 "));
    EXPECT_EQ("Проба", DefaultUninstallId("Проба"));  // what is not ASCII stays
    EXPECT_EQ("", DefaultUninstallId(" \\\\ \t"));
    EXPECT_EQ("", CheckUninstallId("ExampleViewer"));
    EXPECT_EQ("", CheckUninstallId("{6F2A-11}"));
    for (const char* bad : {"", "a\\b", "tab\there", " lead", "trail "})
        EXPECT_NE("", CheckUninstallId(bad)) << bad;

    EXPECT_EQ("", CheckUninstallProgram("uninstall.exe"));
    EXPECT_EQ("", CheckUninstallProgram("Remove Viewer.EXE"));
    for (const char* bad : {"bin\\uninstall.exe", "bin/u.exe", "C:u.exe", "uninstall.com", ".exe", "con.exe",
                            "a?.exe", "uninstall"})
        EXPECT_NE("", CheckUninstallProgram(bad)) << bad;

    EXPECT_EQ("", CheckPackageId("Example.Viewer"));
    EXPECT_EQ("", CheckPackageId("A.B.C.D.E.F.G.H"));
    for (const char* bad : {"Example", "Example..Viewer", ".Viewer", "Example Ltd.Viewer", "A.B.C.D.E.F.G.H.I",
                            "Example.Viewer/2"})
        EXPECT_NE("", CheckPackageId(bad)) << bad;
    EXPECT_NE("", CheckPackageId(std::string(33, 'a') + ".b"));
}

TEST(QuillUninstallRules, TextsOfEverySetCarryOnePlaceholderAndFitTheirCodePage)
{
    for (const MessageLanguage& language : MessageLanguages()) {
        std::vector<std::string> texts = UninstallTextsUtf8(language.name);
        ASSERT_EQ((size_t)(UNINSTALL_TEXT_LAST - UNINSTALL_TEXT_FIRST + 1), texts.size()) << language.name;
        CodePage codePage(language.codePage);
        for (size_t i = 0; i < texts.size(); i++) {
            int id = UNINSTALL_TEXT_FIRST + (int)i;
            EXPECT_EQ("", CheckMessagePlaceholders(id, texts[i])) << language.name << " " << id;
            std::string stored, bad;
            EXPECT_TRUE(codePage.Encode(texts[i], stored, bad)) << language.name << " " << id << ": " << bad;
            EXPECT_EQ("", CheckStoredMessage(id, stored)) << language.name << " " << id;
            if (std::string(language.name) != "english")
                EXPECT_NE(UninstallTextsUtf8("english")[i], texts[i]) << language.name << " " << id;
        }
    }
    EXPECT_NE("", CheckMessagePlaceholders(201, "Remove it?"));
    EXPECT_NE("", CheckMessagePlaceholders(202, "%s and %s"));
    EXPECT_NE("", CheckMessagePlaceholders(203, "%d kept"));
}

TEST(QuillUninstallRules, ProjectSectionAndMistakes)
{
    TempDir dir;
    auto read = [&](const std::string& text, PackSettings& settings) -> std::string {
        WriteBytes(dir / "p.ini", TextBytes("[installer]\ntitle = Viewer\ninstall-dir = V\n" + text));
        try {
            ReadProjectFile(dir / "p.ini", settings);
            CheckRequiredSettings(settings);
        } catch (const Failure& failure) {
            return failure.message.substr(failure.message.find("p.ini"));
        }
        return "";
    };
    PackSettings defaults;
    ASSERT_EQ("", read("", defaults));
    EXPECT_TRUE(defaults.UninstallEnabled());
    EXPECT_EQ("Viewer", defaults.uninstallId.value);
    EXPECT_EQ("uninstall.exe", defaults.uninstallProgram.value);

    PackSettings given;
    ASSERT_EQ("", read("[uninstall]\nenabled = YES\nid = ExampleViewer\nprogram = remove.exe\n"
                       "url = https://example.com\n[winget]\npackage-id = Example.Viewer\nlicense = MIT\n"
                       "[messages]\n201 = Remove %s?\n",
                       given));
    EXPECT_EQ("ExampleViewer", given.uninstallId.value);
    EXPECT_EQ("remove.exe", given.uninstallProgram.value);
    EXPECT_EQ("https://example.com", given.uninstallUrl.value);
    EXPECT_EQ("Example.Viewer", given.packageId.value);
    EXPECT_EQ("Remove %s?", given.messages[201].value);

    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"[uninstall]\nenabled = maybe\n", "p.ini:5: enabled is yes or no, not \"maybe\""},
        {"[uninstall]\nid = a\\b\n", "p.ini:5: id \"a\\b\": holds a backslash"},
        {"[uninstall]\nprogram = bin\\u.exe\n", "p.ini:5: program \"bin\\u.exe\": is a file name at the"},
        {"[uninstall]\nprogram = u.bat\n", "ending in .exe"},
        {"[uninstall]\nid = A\nid = B\n", "p.ini:6: id is already set at"},
        {"[uninstall]\nicon = x\n", "unknown key \"icon\" in [uninstall]"},
        {"[winget]\npackage-id = Viewer\n", "p.ini:5: package-id \"Viewer\": is two to eight parts"},
        {"[messages]\n207 = x\n", "\"207\" is not a message id (1 to 17, 111 to 121, 200 to 206, 210)"},
        {"[uninstallation]\n", "unknown section [uninstallation]"},
    };
    for (const Case& c : cases) {
        PackSettings settings;
        EXPECT_TRUE(Contains(read(c.text, settings), c.message)) << c.text << " -> " << read(c.text, settings);
    }
    // A title that leaves no id is refused, unless the uninstall is off or an id given.
    WriteBytes(dir / "p.ini", TextBytes("[installer]\ntitle = \\\\\ninstall-dir = V\n"));
    PackSettings empty;
    ReadProjectFile(dir / "p.ini", empty);
    try {
        CheckRequiredSettings(empty);
        ADD_FAILURE() << "an empty id was accepted";
    } catch (const Failure& failure) {
        EXPECT_TRUE(Contains(failure.message, "the uninstall id made from the title \"\\\\\" is empty")) << failure.message;
        EXPECT_TRUE(Contains(failure.message, "--no-uninstall")) << failure.message;
    }
    empty.uninstallEnabled = {"no", "--no-uninstall"};
    EXPECT_NO_THROW(CheckRequiredSettings(empty));
}

TEST_F(QuillUninstall, PackedFirstWithItsKeysAndTexts)
{
    // The version resource needs a real program; the installer serves as the uninstaller.
    std::string program = BuiltInstaller();
    if (program.empty())
        GTEST_SKIP() << "no installer program: build with i686-w64-mingw32 or set QUILL_STUB";
    stub = uninstaller = program;
    setenv("SOURCE_DATE_EPOCH", std::to_string(EPOCH).c_str(), 1);
    QuillRun pack = RunQuill(Args(dir / "setup.exe", {"--version", "2.1", "--company", "Example Ltd",
                                                      "--uninstall-url", "https://example.com/viewer",
                                                      "--message", "205=%s ist schon weg.", "--language", "german"}));
    unsetenv("SOURCE_DATE_EPOCH");
    ASSERT_EQ(0, pack.code) << pack.err;
    QuillRun test = RunQuill({"test", dir / "setup.exe"});
    EXPECT_EQ(0, test.code) << test.err;
    EXPECT_EQ("", test.err);
    EXPECT_TRUE(Contains(test.out, "sound: 3 files, 1 folders")) << test.out;

    QuillRun list = RunQuill({"list", "--json", dir / "setup.exe"});
    ASSERT_EQ(0, list.code) << list.err;
    WriteBytes(dir / "list.json", TextBytes(list.out));
    std::string entries = FromJson(dir / "list.json", "\"|\".join(e[\"key\"]+\"=\"+e[\"value\"] for e in d[\"extension\"])");
    EXPECT_EQ("codepage=1252|uninstall.id=Example Viewer|uninstall.program=uninstall.exe|"
              "uninstall.url=https://example.com/viewer|product.version=2.1|product.publisher=Example Ltd|"
              "text.200=%s deinstallieren|text.201=Möchten Sie %s und alle zugehörigen Dateien entfernen?|"
              "text.202=%s wurde entfernt.|text.203=%s wurde entfernt. Diese Dateien wurden nach der Installation "
              "geändert oder hinzugefügt und sind erhalten geblieben:|text.204=Das Installationsprotokoll %s fehlt "
              "oder ist beschädigt. Es wurde nichts entfernt.|text.205=%s ist schon weg.|"
              "text.206=%s kann nicht entfernt werden\n",
              entries);
    // The first record, at the top, before every entry of the tree; the total counts it.
    EXPECT_EQ("uninstall.exe 32 2023-11-14 22:13:20Z\n",
              FromJson(dir / "list.json", "d[\"uninstaller\"][\"program\"], "
                                          "d[\"uninstaller\"][\"attributes\"], d[\"uninstaller\"][\"time\"]"));
    EXPECT_EQ("uninstall.exe readme.txt docs docs/uninstall.exe\n",
              FromJson(dir / "list.json", "*[e[\"path\"] for e in d[\"tree\"]]"));
    QuillRun extract = RunQuill({"extract", dir / "setup.exe", "-d", dir / "x"});
    ASSERT_EQ(0, extract.code) << extract.err;
    size_t size = ReadBytes(dir / "x/uninstall.exe").size();
    EXPECT_EQ(std::to_string(size + 33) + " " + std::to_string(size + 33) + "\n",
              FromJson(dir / "list.json", "d[\"header\"][\"totalSize\"], d[\"bytes\"]"));
    // Branded as the installer, with its own description, at the installer's level.
    if (HaveProgram("i686-w64-mingw32-windres")) {
        ShellRun rc = RunShell("i686-w64-mingw32-windres -O rc -i " + dir / "x/uninstall.exe");
        for (const char* expected : {"FILEVERSION 2, 1, 0, 0", "VALUE \"FileDescription\", \"Example \\\\Viewer\\t Uninstall\"",
                                     "VALUE \"OriginalFilename\", \"uninstall.exe\"",
                                     "VALUE \"CompanyName\", \"Example Ltd\"", "BLOCK \"040704B0\""})
            EXPECT_TRUE(Contains(rc.out, expected)) << expected << "\n" << rc.out;
    }
    EXPECT_TRUE(Contains(ReadText(dir / "x/uninstall.exe"), "requireAdministrator"));
    QuillRun user = RunQuill(Args(dir / "user.exe", {"--privileges", "user"}));
    ASSERT_EQ(0, user.code) << user.err;
    ASSERT_EQ(0, RunQuill({"extract", dir / "user.exe", "-d", dir / "u"}).code);
    std::string userProgram = ReadText(dir / "u/uninstall.exe");
    EXPECT_TRUE(Contains(userProgram, "asInvoker"));
    EXPECT_FALSE(Contains(userProgram, "requireAdministrator"));

    QuillRun text = RunQuill({"list", dir / "setup.exe"});
    EXPECT_TRUE(Contains(text.out, "uninstaller   uninstall.exe, the first file record")) << text.out;
    EXPECT_TRUE(Contains(text.out, "uninstall.exe  (uninstaller)")) << text.out;
    EXPECT_TRUE(Contains(text.out, "  text.205            %s ist schon weg.")) << text.out;
}

TEST_F(QuillUninstall, OffMissingOrClashing)
{
    // Off: only the code page is added; no uninstaller record.
    QuillRun off = RunQuill(Args(dir / "off.exe", {"--no-uninstall"}));
    ASSERT_EQ(0, off.code) << off.err;
    QuillRun list = RunQuill({"list", "--json", dir / "off.exe"});
    WriteBytes(dir / "off.json", TextBytes(list.out));
    EXPECT_EQ("[{'key': 'codepage', 'value': '1252'}] None 2\n",
              FromJson(dir / "off.json", "d[\"extension\"], d[\"uninstaller\"], d[\"files\"]"));

    // No uninstaller program: the message says how to go on; nothing is written.
    std::vector<std::string> args = Args(dir / "none.exe");
    ASSERT_EQ("--uninstaller", args[6]);
    args[7] = dir / "programs/missing.exe";
    QuillRun missing = RunQuill(args);
    EXPECT_EQ(EXIT_USAGE, missing.code);
    EXPECT_TRUE(Contains(missing.err, "uninstaller program " + args[7] + " (--uninstaller)")) << missing.err;
    args.erase(args.begin() + 6, args.begin() + 8);
    unsetenv("QUILL_UNINSTALLER");
    missing = RunQuill(args);
    if (missing.code != 0) {  // a build tree with the uninstaller finds it: then it packs
        EXPECT_EQ(EXIT_USAGE, missing.code);
        EXPECT_TRUE(Contains(missing.err, "--uninstaller FILE or QUILL_UNINSTALLER")) << missing.err;
        EXPECT_TRUE(Contains(missing.err, "--no-uninstall")) << missing.err;
        EXPECT_TRUE(Leftovers(dir.Path(), "none").empty());
        EXPECT_TRUE(Leftovers(dir.Path(), ".none").empty());
    }
    setenv("QUILL_UNINSTALLER", uninstaller.c_str(), 1);
    QuillRun environment = RunQuill(args);
    unsetenv("QUILL_UNINSTALLER");
    ASSERT_EQ(0, environment.code) << environment.err;
    // A stand-in without resources or manifest is packed byte for byte.
    ASSERT_EQ(0, RunQuill({"extract", dir / "none.exe", "-d", dir / "x"}).code);
    EXPECT_EQ(ReadBytes(uninstaller), ReadBytes(dir / "x/uninstall.exe"));

    // A file at the top named as the program or its log, in any case, is refused.
    for (const char* name : {"UNINSTALL.EXE", "Uninstall.Log"}) {
        WriteBytes(dir / "src" + "/" + name, TextBytes("mine"));
        QuillRun clash = RunQuill(Args(dir / "clash.exe"));
        EXPECT_EQ(EXIT_USAGE, clash.code) << name;
        EXPECT_TRUE(Contains(clash.err, std::string("\"") + name + "\" at the install directory's top takes the name "
                                        "of the uninstaller")) << clash.err;
        EXPECT_TRUE(Leftovers(dir.Path(), "clash").empty());
        unlink((dir / "src" + "/" + name).c_str());
    }
    // Another program name frees the name.
    WriteBytes(dir / "src/uninstall.exe", TextBytes("mine"));
    QuillRun other = RunQuill(Args(dir / "other.exe", {"--uninstall-program", "remove.exe"}));
    EXPECT_EQ(0, other.code) << other.err;
}

TEST(QuillUninstallDamage, TestChecksTheExtension)
{
    TempDir dir;
    int made = 0;
    auto archive = [&](const std::vector<std::pair<std::string, std::string>>& entries, bool uninstallerFirst) {
        StringBlockContent content;
        content.productTitle = "P";
        content.installDir = "P";
        content.extension = entries;
        RecordWriter records;
        if (!uninstallerFirst)
            records.File("readme.txt", TextBytes("r"));
        records.File("uninstall.exe", TextBytes("MZ"));
        records.End();
        ArchiveHeader header{};
        header.totalSize = (u32)records.TotalSize();
        std::string folder = dir / std::to_string(++made);
        MakeDir(folder);
        return WriteInstaller(folder, JoinArchive(header, content, records.Bytes()));
    };
    std::vector<std::pair<std::string, std::string>> sound = {
        {"codepage", "1252"}, {"uninstall.id", "P"}, {"uninstall.program", "uninstall.exe"}};
    for (int id = 200; id <= 206; id++)
        sound.push_back({"text." + std::to_string(id), "x %s"});

    QuillRun test = RunQuill({"test", archive(sound, true)});
    EXPECT_EQ(0, test.code) << test.err;
    EXPECT_EQ("", test.err);

    auto with = [&](const std::string& key, const std::string& value) {
        auto entries = sound;
        for (auto& entry : entries)
            if (entry.first == key)
                entry.second = value;
        if (value == "(add)")
            entries.push_back({key, "later"});
        return entries;
    };
    // A later writer's key is a warning, and so is a repeated key.
    auto later = with("install.shortcuts", "(add)");
    later.push_back({"codepage", "1251"});
    test = RunQuill({"test", archive(later, true)});
    EXPECT_EQ(0, test.code) << test.err;
    EXPECT_TRUE(Contains(test.err, "warning: extension: unknown key install.shortcuts")) << test.err;
    EXPECT_TRUE(Contains(test.err, "codepage is given more than once")) << test.err;

    // An entry without a key, as a damaged writer would leave it.
    auto noKey = sound;
    noKey.push_back({"", ""});
    struct Case {
        const char* what;
        std::string path;
        const char* message;
    } cases[] = {
        {"no key", archive(noKey, true), "the entry \"=\" is not key=value"},
        {"bad code page", archive(with("codepage", "65001"), true), "codepage=65001 is not a code page"},
        {"bad id", archive(with("uninstall.id", "a\\b"), true), "uninstall.id \"a\\b\" holds a backslash"},
        {"long id", archive(with("uninstall.id", std::string(256, 'i')), true), "a key name holds at most 255"},
        {"path program", archive(with("uninstall.program", "bin\\u.exe"), true), "uninstall.program \"bin\\u.exe\""},
        {"not first", archive(sound, false), "is not the record stream's first record"},
        {"text placeholder", archive(with("text.201", "Remove?"), true), "text 201: has placeholders none"},
        {"group kind", archive(with("group.kind", "(add)"), true), "group.kind=later is neither"},
    };
    for (const Case& c : cases) {
        QuillRun run = RunQuill({"test", c.path});
        EXPECT_EQ(EXIT_DAMAGED, run.code) << c.what << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, c.message)) << c.what << ": " << run.err;
        QuillRun list = RunQuill({"list", c.path});
        EXPECT_EQ(EXIT_DAMAGED, list.code) << c.what;
    }

    // A trailer whose digits are not upper-case hex: the core finds no extension, and
    // test says the trailer is not sound.
    StringBlockContent content;
    content.productTitle = "P";
    content.installDir = "P";
    ArchiveHeader header{};
    Bytes block = BuildStringBlock(content, header);
    RecordWriter records;
    records.End();
    Bytes archiveBytes = JoinArchive(header, content, records.Bytes());
    std::string trailer = "QSXT" + std::string(8, 'a');
    Bytes tail = TextBytes("codepage=1252");
    tail.push_back(0);
    tail.insert(tail.end(), trailer.begin(), trailer.end());
    tail.push_back(0);
    archiveBytes.insert(archiveBytes.begin() + ARCHIVE_HEADER_SIZE + block.size(), tail.begin(), tail.end());
    u32 size = (u32)(block.size() + tail.size());
    memcpy(&archiveBytes[4], &size, 4);
    QuillRun lookalike = RunQuill({"test", WriteInstaller(dir.Path(), archiveBytes)});
    EXPECT_EQ(EXIT_DAMAGED, lookalike.code) << lookalike.err;
    EXPECT_TRUE(Contains(lookalike.err, "the trailer \"QSXTaaaaaaaa\" is not sound")) << lookalike.err;
}

TEST_F(QuillUninstall, WingetManifestsNameTheWrittenInstaller)
{
    std::string program = BuiltInstaller();
    if (program.empty())
        GTEST_SKIP() << "no installer program: build with i686-w64-mingw32 or set QUILL_STUB";
    if (RunShell("python3 -c 'import yaml'").code != 0)
        GTEST_SKIP() << "python3 with the yaml module missing";
    stub = uninstaller = program;
    std::vector<std::string> winget = {"--winget", dir / "winget", "--package-id", "Example.Viewer", "--version",
                                       "1.2", "--company", "Example 'Ltd'", "--license", "Proprietary",
                                       "--installer-url", "https://example.com/setup.exe", "--uninstall-id",
                                       "ExampleViewer: 1", "--privileges", "user", "--install-dir", "C:\\Apps\\V"};
    std::vector<std::string> args = Args(dir / "setup.exe");
    args.insert(args.end(), winget.begin(), winget.end());
    QuillRun pack = RunQuill(args);
    ASSERT_EQ(0, pack.code) << pack.err;
    std::string sha = RunShell("sha256sum " + dir / "setup.exe" + " | cut -c1-64").out;
    ASSERT_EQ(65u, sha.size());

    // Parsed as YAML, each file says what the schema asks for, the installer's digest too.
    std::string check =
        "import yaml,sys\n"
        "d='" + dir / "winget" + "/'\n"
        "v=yaml.safe_load(open(d+'Example.Viewer.yaml'))\n"
        "i=yaml.safe_load(open(d+'Example.Viewer.installer.yaml'))\n"
        "l=yaml.safe_load(open(d+'Example.Viewer.locale.en-US.yaml'))\n"
        "print(v['PackageIdentifier'], v['PackageVersion'], v['DefaultLocale'], v['ManifestType'], v['ManifestVersion'])\n"
        "print(i['InstallerType'], i['Scope'], i['InstallerSwitches'], i['ProductCode'])\n"
        "print(sorted((c['InstallerReturnCode'], c['ReturnResponse']) for c in i['ExpectedReturnCodes']))\n"
        "print(i['AppsAndFeaturesEntries'])\n"
        "print(i['Installers'][0]['Architecture'], i['Installers'][0]['InstallerUrl'], i['Installers'][0]['InstallerSha256'].lower())\n"
        "print(l['Publisher'], '|', l['PackageName'], '|', l['License'], '|', l['ShortDescription'], '|', l['PackageLocale'])\n"
        "for f in ['Example.Viewer.yaml', 'Example.Viewer.installer.yaml', 'Example.Viewer.locale.en-US.yaml']:\n"
        "    print(open(d+f).read().split('\\n')[1])\n";
    WriteBytes(dir / "check.py", TextBytes(check));
    ShellRun read = RunShell("python3 " + dir / "check.py");
    ASSERT_EQ(0, read.code) << read.out;
    EXPECT_EQ("Example.Viewer 1.2 en-US version 1.10.0\n"
              "exe user {'Silent': '/S', 'SilentWithProgress': '/S', 'InstallLocation': '/D=<INSTALLPATH>', "
              "'Log': '/LOG=<LOGPATH>'} ExampleViewer: 1\n"
              "[(112, 'diskFull'), (1602, 'cancelledByUser'), (1603, 'contactSupport'), (1618, 'installInProgress'), "
              "(1639, 'invalidParameter')]\n"
              "[{'DisplayName': 'Example \\\\Viewer\\t', 'Publisher': \"Example 'Ltd'\", 'DisplayVersion': '1.2', "
              "'ProductCode': 'ExampleViewer: 1'}]\n"
              "x86 https://example.com/setup.exe " + sha +
              "Example 'Ltd' | Example \\Viewer\t | Proprietary | Example \\Viewer\t | en-US\n"
              "# yaml-language-server: $schema=https://aka.ms/winget-manifest.version.1.10.0.schema.json\n"
              "# yaml-language-server: $schema=https://aka.ms/winget-manifest.installer.1.10.0.schema.json\n"
              "# yaml-language-server: $schema=https://aka.ms/winget-manifest.defaultLocale.1.10.0.schema.json\n",
              read.out);

    // Refused before anything is written: what the schema needs, a volume set, no uninstall.
    struct Case {
        std::vector<std::string> change;  // option, value ("" drops the option)
        const char* message;
    } cases[] = {
        {{"--license", ""}, "requires a License"},
        {{"--installer-url", ""}, "--installer-url URL"},
        {{"--installer-url", "ftp://example.com/s.exe"}, "is not an http:// or https:// address"},
        {{"--version", ""}, "no version for PackageVersion"},
        {{"--company", ""}, "no publisher"},
        {{"--package-id", ""}, "no package identifier"},
        {{"--volume-size", "1.44M"}, "a volume set has no single installer file"},
        {{"--no-uninstall", "-"}, "the uninstall is off"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> changed = Args(dir / "refused/setup.exe");
        std::vector<std::string> options = winget;
        options[1] = dir / "refused/winget";
        bool found = false;
        for (size_t k = 0; k + 1 < options.size(); k += 2)
            if (options[k] == c.change[0]) {
                found = true;
                if (c.change[1].empty())
                    options.erase(options.begin() + (long)k, options.begin() + (long)k + 2);
                else
                    options[k + 1] = c.change[1];
                break;
            }
        if (!found)
            options.push_back(c.change[0]);
        if (!found && c.change[1] != "-")
            options.push_back(c.change[1]);
        changed.insert(changed.end(), options.begin(), options.end());
        QuillRun refused = RunQuill(changed);
        EXPECT_EQ(EXIT_USAGE, refused.code) << c.message;
        EXPECT_TRUE(Contains(refused.err, "--winget: ")) << refused.err;
        EXPECT_TRUE(Contains(refused.err, c.message)) << refused.err;
        struct stat info;
        EXPECT_NE(0, stat((dir / "refused").c_str(), &info)) << c.message;
    }
}

TEST_F(QuillUninstall, SignedBeforeItIsPacked)
{
    std::string program = BuiltInstaller();
    if (program.empty() || !HaveProgram("osslsigncode") || !HaveProgram("openssl"))
        GTEST_SKIP() << "the installer program, osslsigncode or openssl missing";
    stub = uninstaller = program;
    ShellRun made = RunShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Quill Uninstall Signer' "
                             "-keyout " + dir / "key.pem" + " -out " + dir / "cert.pem");
    ASSERT_EQ(0, made.code) << made.out;
    QuillRun pack = RunQuill(Args(dir / "setup.exe", {"--sign", dir / "cert.pem", "--key", dir / "key.pem"}));
    ASSERT_EQ(0, pack.code) << pack.err;
    ASSERT_EQ(0, RunQuill({"test", dir / "setup.exe"}).code);
    ASSERT_EQ(0, RunQuill({"extract", dir / "setup.exe", "-d", dir / "x"}).code);
    // Both programs carry a signature over their own bytes.
    for (const std::string& signedFile : {dir / "x/uninstall.exe", dir / "setup.exe"}) {
        ShellRun verify = RunShell("osslsigncode verify -CAfile " + dir / "cert.pem" + " -in " + signedFile);
        EXPECT_TRUE(Contains(verify.out, "Signer's certificate:") || Contains(verify.out, "Quill Uninstall Signer"))
            << signedFile << "\n" << verify.out;
        EXPECT_TRUE(Contains(verify.out, "Calculated message digest") || Contains(verify.out, "Message digest"))
            << verify.out;
        EXPECT_FALSE(Contains(verify.out, "MISMATCH")) << signedFile << "\n" << verify.out;
    }
    EXPECT_TRUE(Contains(RunShell("osslsigncode verify -CAfile " + dir / "cert.pem" + " -in " + dir / "x/uninstall.exe").out,
                         "Signature verification: ok"));
}
