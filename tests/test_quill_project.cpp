// The project file: what each section and key sets, and every mistake named by file and
// line.
#include <gtest/gtest.h>

#include "archive/messages.h"
#include "codepage.h"
#include "harness.h"
#include "pack.h"
#include "project.h"
#include "quill.h"

namespace {

// The failure a project file's reading ends with; code -1 when it is read.
Failure ReadFailure(const std::string& text, PackSettings* settings = nullptr)
{
    TempDir dir;
    WriteBytes(dir / "p.ini", TextBytes(text));
    PackSettings own;
    try {
        ReadProjectFile(dir / "p.ini", settings ? *settings : own);
        CheckRequiredSettings(settings ? *settings : own);
    } catch (const Failure& failure) {
        // The temporary folder's name varies; the tests compare from the file name on.
        std::string message = failure.message;
        size_t at = message.find("p.ini");
        return {failure.code, at == std::string::npos ? message : message.substr(at)};
    }
    return {-1, ""};
}

const char* EXAMPLE =
    "\xEF\xBB\xBF; a project\n"
    "[installer]\n"
    "title = Viewer Pro   ; the product\n"
    "window-title = \"  Viewer ; Setup  \"\n"
    "install-dir = Tools\\Viewer\r\n"
    "post-install = \\viewer.exe /first\n"
    "background = minimised\n"
    "language = german\n"
    "\n"
    "[group]\n"
    "name = Viewer\n"
    "item = Viewer | \\viewer.exe\n"
    "item = Read me|C:\\readme.txt\n"
    "[messages]\n"
    "117 = Fertig.\n"
    "[attributes]\n"
    "data\\cache.bin = hidden, system\n";

TEST(QuillProject, ReadsEverySection)
{
    PackSettings settings;
    ASSERT_EQ(-1, ReadFailure(EXAMPLE, &settings).code);
    EXPECT_EQ("Viewer Pro", settings.title.value);
    EXPECT_EQ("  Viewer ; Setup  ", settings.windowTitle.value);
    EXPECT_EQ("Tools\\Viewer", settings.installDir.value);
    EXPECT_EQ("\\viewer.exe /first", settings.postInstall.value);
    EXPECT_FALSE(settings.backgroundMaximized);
    EXPECT_EQ("german", settings.language);
    EXPECT_EQ(1252, PackCodePage(settings));
    EXPECT_EQ("Viewer", settings.groupName.value);
    ASSERT_EQ(2u, settings.groupItems.size());
    EXPECT_EQ("Read me", settings.groupItems[1].title);
    EXPECT_EQ("C:\\readme.txt", settings.groupItems[1].path);
    EXPECT_EQ("Fertig.", settings.messages[MSG_INSTALL_COMPLETE].value);
    ASSERT_EQ(1u, settings.attributes.size());
    EXPECT_EQ("data/cache.bin", settings.attributes[0].path);
    EXPECT_EQ((u32)(ATTRIBUTE_HIDDEN | ATTRIBUTE_SYSTEM), settings.attributes[0].attributes);
    EXPECT_NE(std::string::npos, settings.title.origin.find("p.ini:3"));
}

TEST(QuillProject, MistakesNameFileAndLine)
{
    const std::string head = "[installer]\ntitle = T\ninstall-dir = D\n";
    struct Case {
        std::string text;
        std::string message;  // the start of what must be said
    } cases[] = {
        {head + "colour = red\n", "p.ini:4: unknown key \"colour\""},
        {head + "[extras]\n", "p.ini:4: unknown section [extras]"},
        {head + "background = tiled\n", "p.ini:4: background is maximized or minimized"},
        {head + "language = klingon\n", "p.ini:4: unknown language"},
        {head + "codepage = 65001\n", "p.ini:4: code page \"65001\" is not supported"},
        {head + "title = again\n", "p.ini:4: title is already set at"},
        {head + "window-title =\n", "p.ini:4: window-title needs a value"},
        {head + "just words\n", "p.ini:4: expected \"key = value\""},
        {"title = T\n", "p.ini:1: a setting before the first [section]"},
        {head + "[messages]\n18 = x\n", "p.ini:5: \"18\" is not a message id"},
        {head + "[messages]\n7 = Cannot open %lu\n", ""},  // placeholders are checked at pack
        {head + "[group]\nitem = no bar\n", "p.ini:5: an item is \"title | path\""},
        {head + "[attributes]\na.txt = invisible\n", "p.ini:5: unknown attribute \"invisible\""},
        {head + "[attributes]\n../up.txt = hidden\n", "p.ini:5: \"../up.txt\" leaves the source folder"},
        {head + "post-install = \"unclosed\n", "p.ini:4: the quoted value has no closing quote"},
        {head + "title2 = \xFF\n", "p.ini:4: the line is not UTF-8 text"},
        {"[installer]\ninstall-dir = D\n", "p.ini: no title"},
        {"[installer]\ntitle = T\n", "p.ini: no install directory"},
        {head + "[group]\nitem = A | \\a.exe\n", "p.ini:5: group items need a group name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Failure failure = ReadFailure(c.text);
        if (c.message.empty()) {
            EXPECT_EQ(-1, failure.code) << failure.message;
            continue;
        }
        EXPECT_EQ(EXIT_USAGE, failure.code);
        EXPECT_EQ(0u, failure.message.find(c.message)) << failure.message;
    }
}

TEST(QuillProject, OptionsOverrideTheFile)
{
    PackSettings settings;
    ASSERT_EQ(-1, ReadFailure(EXAMPLE, &settings).code);
    ApplySetting(settings, "installer", "title", "Other", "--title");
    ApplySetting(settings, "installer", "title", "Last", "--title");
    ApplySetting(settings, "installer", "codepage", "1250", "--codepage");
    EXPECT_EQ("Last", settings.title.value);
    EXPECT_EQ(1250, PackCodePage(settings));
    try {
        ApplySetting(settings, "installer", "background", "sideways", "--background");
        FAIL() << "a bad value was taken";
    } catch (const Failure& failure) {
        EXPECT_EQ(EXIT_USAGE, failure.code);
        EXPECT_EQ(0u, failure.message.find("--background: "));
    }
}

TEST(QuillProject, ContentIsCheckedInTheCodePage)
{
    PackSettings settings;
    ASSERT_EQ(-1, ReadFailure(EXAMPLE, &settings).code);
    CodePage western(1252);
    StringBlockContent content = BuildContent(settings, western);
    EXPECT_EQ("Fertig.", content.messages[MessageEntry(MSG_INSTALL_COMPLETE) - 1]);
    EXPECT_EQ("Best\xE4tigung", content.messages[MessageEntry(MSG_CONFIRMATION) - 1]);
    ASSERT_EQ(2u, content.groupItems.size());

    auto failure = [&](PackSettings s, int codePage) {
        try {
            BuildContent(s, CodePage(codePage));
        } catch (const Failure& f) {
            return f.message.substr(f.message.find("p.ini") == std::string::npos ? 0 : f.message.find("p.ini"));
        }
        return std::string();
    };
    PackSettings wrong = settings;
    wrong.messages[MSG_CANT_OPEN_FILE] = {"Cannot open %lu", "p.ini:20"};
    EXPECT_EQ("p.ini:20: message 10: has placeholders %lu but needs one %s", failure(wrong, 1252));
    wrong = settings;
    wrong.messages[MSG_ERROR] = {std::string(200, 'e'), "p.ini:21"};
    EXPECT_EQ(0u, failure(wrong, 1252).find("p.ini:21: message 17: 200 bytes once encoded"));
    wrong = settings;
    wrong.title.value = "Жук";
    EXPECT_NE(std::string::npos, failure(wrong, 1252).find("title: Ж (U+0416) has no place in code page 1252"));
    // The German set itself does not fit a Cyrillic code page.
    EXPECT_NE(std::string::npos, failure(settings, 1251).find("of the german set"));
    wrong = settings;
    wrong.title.value = std::string(256, 't');
    EXPECT_NE(std::string::npos, failure(wrong, 1252).find("title takes 256 bytes; at most 255 fit"));
}

}  // namespace
