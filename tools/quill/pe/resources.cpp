#include "resources.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <fstream>
#include <iterator>
#include <map>

#include "codepage.h"
#include "icon.h"
#include "image.h"
#include "quill.h"

namespace {

const u32 RT_ICON = 3;
const u32 RT_GROUP_ICON = 14;
const u32 RT_VERSION = 16;
const u32 RESOURCE_DIRECTORY = 2;
const u32 SECTION_HEADER_SIZE = 40;
const u32 INITIALIZED_DATA = 0x40;

u32 Get16(const std::vector<u8>& b, size_t at)
{
    if (at + 2 > b.size())
        Fail(EXIT_USAGE, "the installer program's resources run past its end");
    return b[at] | b[at + 1] << 8;
}

u32 Get32(const std::vector<u8>& b, size_t at)
{
    if (at + 4 > b.size())
        Fail(EXIT_USAGE, "the installer program's resources run past its end");
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (u32)b[at + 3] << 24;
}

void Put16(std::vector<u8>& b, size_t at, u32 v)
{
    b[at] = (u8)v;
    b[at + 1] = (u8)(v >> 8);
}

void Put32(std::vector<u8>& b, size_t at, u32 v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = (u8)(v >> (8 * i));
}

void Add16(std::vector<u8>& b, u32 v)
{
    b.push_back((u8)v);
    b.push_back((u8)(v >> 8));
}

void Add32(std::vector<u8>& b, u32 v)
{
    Add16(b, v & 0xFFFF);
    Add16(b, v >> 16);
}

void Align(std::vector<u8>& b, size_t to)
{
    while (b.size() % to)
        b.push_back(0);
}

u32 RoundUp(u32 value, u32 to)
{
    return (value + to - 1) / to * to;
}

// A resource name: a number, or a string (kept as its UTF-16 units).
struct Key {
    bool named = false;
    u32 id = 0;
    std::vector<u16> name;
    bool operator<(const Key& other) const
    {
        // Named entries come before numbered ones, each group in ascending order.
        if (named != other.named)
            return named;
        return named ? name < other.name : id < other.id;
    }
};

Key IdKey(u32 id)
{
    Key key;
    key.id = id;
    return key;
}

struct Leaf {
    std::vector<u8> data;
    u32 codePage = 0;
};

typedef std::map<Key, Leaf> Languages;
typedef std::map<Key, Languages> Names;
typedef std::map<Key, Names> Tree;

// Reading the resource tree of a section whose bytes start at section RVA base.
class TreeReader {
public:
    TreeReader(const std::vector<u8>& section, u32 base) : s_(section), base_(base) {}

    Tree Read()
    {
        Tree tree;
        for (auto& type : Entries(0, 0)) {
            Names& names = tree[type.first];
            for (auto& name : Entries(Directory(type.second), 1)) {
                Languages& languages = names[name.first];
                for (auto& language : Entries(Directory(name.second), 2))
                    languages[language.first] = Data(language.second);
            }
        }
        return tree;
    }

private:
    std::vector<std::pair<Key, u32>> Entries(u32 at, int depth)
    {
        if (++visited_ > 10000)
            Fail(EXIT_USAGE, "the installer program's resource directory loops");
        std::vector<std::pair<Key, u32>> entries;
        u32 count = Get16(s_, at + 12) + Get16(s_, at + 14);
        for (u32 i = 0; i < count; i++) {
            u32 nameField = Get32(s_, at + 16 + i * 8);
            u32 target = Get32(s_, at + 16 + i * 8 + 4);
            Key key;
            if (nameField & 0x80000000u) {
                key.named = true;
                u32 where = nameField & 0x7FFFFFFF;
                u32 length = Get16(s_, where);
                for (u32 c = 0; c < length; c++)
                    key.name.push_back((u16)Get16(s_, where + 2 + c * 2));
            } else {
                key.id = nameField;
            }
            bool directory = (target & 0x80000000u) != 0;
            if (directory != (depth < 2))
                Fail(EXIT_USAGE, "the installer program's resource directory is not three levels deep");
            entries.push_back({key, target});
        }
        return entries;
    }

    u32 Directory(u32 target) { return target & 0x7FFFFFFF; }

    Leaf Data(u32 at)
    {
        u32 rva = Get32(s_, at), size = Get32(s_, at + 4);
        Leaf leaf;
        leaf.codePage = Get32(s_, at + 8);
        if (rva < base_ || rva - base_ > s_.size() || size > s_.size() - (rva - base_))
            Fail(EXIT_USAGE, "a resource of the installer program lies outside its resource section");
        leaf.data.assign(s_.begin() + (rva - base_), s_.begin() + (rva - base_) + size);
        return leaf;
    }

    const std::vector<u8>& s_;
    u32 base_;
    u32 visited_ = 0;
};

// The section bytes of a tree placed at RVA base: directories, names, data entries, data.
std::vector<u8> WriteTree(const Tree& tree, u32 base)
{
    auto directorySize = [](size_t entries) { return 16 + 8 * (u32)entries; };
    u32 directories = directorySize(tree.size());
    u32 leaves = 0;
    std::vector<const Key*> names;
    for (auto& type : tree) {
        directories += directorySize(type.second.size());
        if (type.first.named)
            names.push_back(&type.first);
        for (auto& name : type.second) {
            directories += directorySize(name.second.size());
            leaves += (u32)name.second.size();
            if (name.first.named)
                names.push_back(&name.first);
            for (auto& language : name.second)
                if (language.first.named)
                    names.push_back(&language.first);
        }
    }
    u32 stringsAt = directories, stringsSize = 0;
    for (const Key* key : names)
        stringsSize += 2 + 2 * (u32)key->name.size();
    u32 entriesAt = RoundUp(stringsAt + stringsSize, 8);
    u32 dataAt = entriesAt + 16 * leaves;

    std::vector<u8> out(dataAt, 0);
    u32 nextDirectory = 0, nextString = stringsAt, nextEntry = entriesAt;
    auto nameField = [&](const Key& key) -> u32 {
        if (!key.named)
            return key.id;
        u32 at = nextString;
        Put16(out, at, (u32)key.name.size());
        for (size_t c = 0; c < key.name.size(); c++)
            Put16(out, at + 2 + 2 * c, key.name[c]);
        nextString += 2 + 2 * (u32)key.name.size();
        return at | 0x80000000u;
    };
    auto header = [&](u32 at, u32 named, u32 numbered) {
        Put16(out, at + 12, named);
        Put16(out, at + 14, numbered);
    };
    auto counts = [](const auto& map, u32& named, u32& numbered) {
        named = numbered = 0;
        for (auto& item : map)
            (item.first.named ? named : numbered)++;
    };
    // Breadth first: the root, the type directories, then the name directories.
    u32 named, numbered;
    u32 root = nextDirectory;
    counts(tree, named, numbered);
    header(root, named, numbered);
    nextDirectory += directorySize(tree.size());
    std::vector<std::pair<u32, const Names*>> typeDirectories;
    u32 slot = root + 16;
    for (auto& type : tree) {
        u32 at = nextDirectory;
        nextDirectory += directorySize(type.second.size());
        Put32(out, slot, nameField(type.first));
        Put32(out, slot + 4, at | 0x80000000u);
        slot += 8;
        typeDirectories.push_back({at, &type.second});
    }
    std::vector<std::pair<u32, const Languages*>> nameDirectories;
    for (auto& typeDirectory : typeDirectories) {
        counts(*typeDirectory.second, named, numbered);
        header(typeDirectory.first, named, numbered);
        slot = typeDirectory.first + 16;
        for (auto& name : *typeDirectory.second) {
            u32 at = nextDirectory;
            nextDirectory += directorySize(name.second.size());
            Put32(out, slot, nameField(name.first));
            Put32(out, slot + 4, at | 0x80000000u);
            slot += 8;
            nameDirectories.push_back({at, &name.second});
        }
    }
    for (auto& nameDirectory : nameDirectories) {
        counts(*nameDirectory.second, named, numbered);
        header(nameDirectory.first, named, numbered);
        slot = nameDirectory.first + 16;
        for (auto& language : *nameDirectory.second) {
            Put32(out, slot, nameField(language.first));
            Put32(out, slot + 4, nextEntry);
            slot += 8;
            Align(out, 8);
            Put32(out, nextEntry, base + (u32)out.size());
            Put32(out, nextEntry + 4, (u32)language.second.data.size());
            Put32(out, nextEntry + 8, language.second.codePage);
            nextEntry += 16;
            out.insert(out.end(), language.second.data.begin(), language.second.data.end());
        }
    }
    Align(out, 8);
    return out;
}

// An icon group (GRPICONDIR): a 6-byte head with the count, then 14 bytes an entry, each
// the image's directory entry, its size and its icon resource's id.
u32 GroupEntries(const std::vector<u8>& g)
{
    return g.size() < 6 ? 0 : std::min<u32>(Get16(g, 4), (u32)((g.size() - 6) / 14));
}

size_t GroupEntryAt(u32 i)
{
    return 6 + 14 * (size_t)i;
}

// Entry i's image as the group describes it, with data as its bytes.
IconImage GroupImage(const std::vector<u8>& g, u32 i, const std::vector<u8>& data)
{
    size_t at = GroupEntryAt(i);
    IconImage image;
    image.width = g[at] ? g[at] : 256;
    image.height = g[at + 1] ? g[at + 1] : 256;
    memcpy(image.entry, &g[at], 8);
    image.data = data;
    image.png = IsPng(data);
    return image;
}

// Takes icon group 101 and its images out of the tree; returns the language it was
// filed under (US English when there was none).
Key TakeOutIcon(Tree& tree)
{
    Key language = IdKey(0x0409);
    Names& icons = tree[IdKey(RT_ICON)];
    Names& groups = tree[IdKey(RT_GROUP_ICON)];
    auto old = groups.find(IdKey(PROGRAM_ICON_ID));
    if (old != groups.end()) {
        for (auto& entry : old->second) {
            language = entry.first;
            const std::vector<u8>& group = entry.second.data;
            for (u32 i = 0; i < GroupEntries(group); i++)
                icons.erase(IdKey(Get16(group, GroupEntryAt(i) + 12)));
        }
        groups.erase(old);
    }
    return language;
}

// The images as icon group 101 and the icon resources it names. An image with no data
// stands for its entries alone, to measure what room its bytes would have.
void PlaceIcon(Tree& tree, const Key& language, const std::vector<const IconImage*>& images)
{
    Names& icons = tree[IdKey(RT_ICON)];
    std::vector<u8> group;
    Add16(group, 0);
    Add16(group, 1);
    Add16(group, (u32)images.size());
    u32 id = 1;
    for (const IconImage* image : images) {
        while (icons.count(IdKey(id)))
            id++;
        icons[IdKey(id)][language].data = image->data;
        group.insert(group.end(), image->entry, image->entry + 8);  // size, colours, planes, bits
        Add32(group, (u32)image->data.size());
        Add16(group, id);
        id++;
    }
    tree[IdKey(RT_GROUP_ICON)][IdKey(PROGRAM_ICON_ID)][language].data = group;
}

std::string ImageName(const IconImage& image)
{
    return "the " + std::to_string(image.width) + "x" + std::to_string(image.height) + " image (" +
           Thousands(image.data.size()) + " bytes)";
}

std::vector<u8> Utf16(const std::string& utf8)
{
    std::u32string text;
    DecodeUtf8(utf8, text);
    std::vector<u8> out;
    for (char32_t c : text) {
        if (c >= 0x10000) {
            c -= 0x10000;
            Add16(out, 0xD800 + (c >> 10));
            Add16(out, 0xDC00 + (c & 0x3FF));
        } else {
            Add16(out, c);
        }
    }
    Add16(out, 0);
    return out;
}

// One node of a version resource: length, value length, type, key, value, children,
// each part aligned to 4 bytes.
std::vector<u8> VersionNode(const std::string& key, const std::vector<u8>& value, bool text,
                            const std::vector<std::vector<u8>>& children)
{
    std::vector<u8> node(6, 0);
    std::vector<u8> name = Utf16(key);
    node.insert(node.end(), name.begin(), name.end());
    Align(node, 4);
    node.insert(node.end(), value.begin(), value.end());
    for (const std::vector<u8>& child : children) {
        Align(node, 4);
        node.insert(node.end(), child.begin(), child.end());
    }
    Put16(node, 0, (u32)node.size());
    Put16(node, 2, text ? (u32)value.size() / 2 : (u32)value.size());
    Put16(node, 4, text ? 1 : 0);
    return node;
}

std::string VersionText(const u16 version[4])
{
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]) + "." +
           std::to_string(version[3]);
}

void PlaceVersion(Tree& tree, const ProgramLook& look)
{
    const u32 unicode = 1200;
    std::vector<u8> fixed;
    Add32(fixed, 0xFEEF04BD);  // signature
    Add32(fixed, 0x00010000);  // structure version
    for (int twice = 0; twice < 2; twice++) {  // file version, product version
        Add32(fixed, (u32)look.version[0] << 16 | look.version[1]);
        Add32(fixed, (u32)look.version[2] << 16 | look.version[3]);
    }
    Add32(fixed, 0x3F);  // flags mask
    Add32(fixed, 0);     // flags
    Add32(fixed, 0x4);   // VOS__WINDOWS32
    Add32(fixed, 0x1);   // VFT_APP
    Add32(fixed, 0);     // subtype
    Add32(fixed, 0);     // date
    Add32(fixed, 0);

    std::string number = VersionText(look.version);
    std::vector<std::pair<const char*, std::string>> texts = {
        {"CompanyName", look.company},       {"FileDescription", look.description},
        {"FileVersion", number},             {"LegalCopyright", look.copyright},
        {"OriginalFilename", look.originalName}, {"ProductName", look.productName},
        {"ProductVersion", number}};
    std::vector<std::vector<u8>> strings;
    for (auto& text : texts)
        if (!text.second.empty())
            strings.push_back(VersionNode(text.first, Utf16(text.second), true, {}));
    char tableKey[16];
    snprintf(tableKey, sizeof(tableKey), "%04X%04X", look.language, unicode);
    std::vector<u8> table = VersionNode(tableKey, {}, true, strings);
    std::vector<u8> stringInfo = VersionNode("StringFileInfo", {}, true, {table});
    std::vector<u8> translation;
    Add16(translation, look.language);
    Add16(translation, unicode);
    std::vector<u8> var = VersionNode("Translation", translation, false, {});
    std::vector<u8> varInfo = VersionNode("VarFileInfo", {}, true, {var});
    std::vector<u8> info = VersionNode("VS_VERSION_INFO", fixed, false, {stringInfo, varInfo});

    tree.erase(IdKey(RT_VERSION));
    tree[IdKey(RT_VERSION)][IdKey(1)][IdKey(look.language)].data = info;
}

}  // namespace

bool ParseVersion(const std::string& text, u16 version[4])
{
    u32 parts[4] = {0, 0, 0, 0};
    int count = 0;
    size_t at = 0;
    while (at <= text.size()) {
        size_t dot = text.find('.', at);
        std::string part = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
        if (count == 4 || part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        parts[count] = (u32)std::stoul(part);
        if (parts[count++] > 0xFFFF)
            return false;
        if (dot == std::string::npos)
            break;
        at = dot + 1;
    }
    for (int i = 0; i < 4; i++)
        version[i] = (u16)parts[i];
    return true;
}

namespace {

struct Section {
    size_t header;  // offset of its section header
    std::string name;
    u32 virtualSize, rva, rawSize, rawAt, flags;
};

// Where a program's resource section lies, and the room it may take.
struct ResourceLayout {
    PeHeaders headers;
    u32 sectionAlignment = 0, fileAlignment = 0;
    std::vector<Section> sections;
    size_t index = 0;  // the resource section's
    // The most bytes the section may have with the program still ending by 0xE000: the
    // room up to there, less the sections behind it, in whole file alignment units.
    int64_t limit = 0;
    const Section& Resources() const { return sections[index]; }
};

ResourceLayout LayoutOf(const std::vector<u8>& program)
{
    ResourceLayout layout;
    PeHeaders& headers = layout.headers;
    if (!ParsePeHeaders(program, headers))
        Fail(EXIT_USAGE, "the installer program is not a 32-bit Windows program; its icon and version cannot be set");
    if (headers.directoryCount <= RESOURCE_DIRECTORY)
        Fail(EXIT_USAGE, "the installer program has no resource directory");
    u32 resourceRva = Get32(program, headers.directories + RESOURCE_DIRECTORY * 8);
    layout.sectionAlignment = Get32(program, headers.optional + 32);
    layout.fileAlignment = Get32(program, headers.optional + 36);
    if (!layout.sectionAlignment || !layout.fileAlignment)
        Fail(EXIT_USAGE, "the installer program's section alignment is 0");

    std::vector<Section>& sections = layout.sections;
    for (u32 i = 0; i < headers.sectionCount; i++) {
        size_t at = headers.sections + i * SECTION_HEADER_SIZE;
        Section s{at, std::string((const char*)&program[at], strnlen((const char*)&program[at], 8)),
                  Get32(program, at + 8), Get32(program, at + 12), Get32(program, at + 16),
                  Get32(program, at + 20), Get32(program, at + 36)};
        sections.push_back(s);
    }
    size_t& index = layout.index;
    while (index < sections.size() && sections[index].rva != resourceRva)
        index++;
    if (!resourceRva || index == sections.size())
        Fail(EXIT_USAGE, "the installer program's resources are not a section of their own");
    // Only sections nothing else points into may follow: the base relocations.
    for (size_t i = 0; i < sections.size(); i++)
        if (sections[i].rva > resourceRva && sections[i].name != ".reloc")
            Fail(EXIT_USAGE, "the installer program's section " + sections[i].name +
                                 " follows its resources, which therefore cannot grow");
    const Section& resources = sections[index];
    if ((u64)resources.rawAt + resources.rawSize > program.size())
        Fail(EXIT_USAGE, "the installer program's resource section runs past its end");
    int64_t room = (int64_t)ARCHIVE_OFFSET - resources.rawAt;
    for (const Section& s : sections)
        if (s.rva > resources.rva)
            room -= s.rawSize;
    layout.limit = room >= 0 ? room / layout.fileAlignment * layout.fileAlignment : room;
    return layout;
}

Tree ReadTree(const std::vector<u8>& program, const ResourceLayout& layout)
{
    const Section& resources = layout.Resources();
    std::vector<u8> old(program.begin() + resources.rawAt,
                        program.begin() + resources.rawAt + std::min(resources.rawSize, resources.virtualSize));
    return TreeReader(old, resources.rva).Read();
}

// The bytes the tree's section may still grow by (negative: it is that much too large).
int64_t Room(const Tree& tree, const ResourceLayout& layout)
{
    return layout.limit - (int64_t)WriteTree(tree, layout.Resources().rva).size();
}

// The program with the tree as its resource section.
std::vector<u8> WriteProgram(const std::vector<u8>& program, const ResourceLayout& layout, const Tree& tree)
{
    const PeHeaders& headers = layout.headers;
    const Section& resources = layout.Resources();
    std::vector<u8> section = WriteTree(tree, resources.rva);
    u32 virtualSize = (u32)section.size();
    section.resize(RoundUp(virtualSize, layout.fileAlignment), 0);

    // Everything before the resources stays where it was; the sections behind move.
    std::vector<u8> out(program.begin(), program.begin() + resources.rawAt);
    out.insert(out.end(), section.begin(), section.end());
    Put32(out, resources.header + 8, virtualSize);
    Put32(out, resources.header + 16, (u32)section.size());
    Put32(out, headers.directories + RESOURCE_DIRECTORY * 8 + 4, virtualSize);
    u32 nextRva = RoundUp(resources.rva + virtualSize, layout.sectionAlignment);
    int64_t initializedGrowth = (int64_t)section.size() - resources.rawSize;
    for (const Section& s : layout.sections) {
        if (s.rva <= resources.rva)
            continue;
        if ((u64)s.rawAt + s.rawSize > program.size())
            Fail(EXIT_USAGE, "the installer program's section " + s.name + " runs past its end");
        u32 rawAt = s.rawSize ? (u32)out.size() : 0;
        out.insert(out.end(), program.begin() + s.rawAt, program.begin() + s.rawAt + s.rawSize);
        for (u32 d = 0; d < headers.directoryCount; d++) {
            u32 rva = Get32(out, headers.directories + d * 8);
            if (rva >= s.rva && rva < s.rva + std::max(s.virtualSize, s.rawSize))
                Put32(out, headers.directories + d * 8, rva - s.rva + nextRva);
        }
        Put32(out, s.header + 12, nextRva);
        Put32(out, s.header + 20, rawAt);
        nextRva = RoundUp(nextRva + std::max(s.virtualSize, 1u), layout.sectionAlignment);
    }
    Put32(out, headers.optional + 56, nextRva);  // SizeOfImage
    if (resources.flags & INITIALIZED_DATA)
        Put32(out, headers.optional + 8, (u32)((int64_t)Get32(out, headers.optional + 8) + initializedGrowth));
    // A signature of the program we were given no longer holds.
    Put32(out, headers.directories + 4 * 8, 0);
    Put32(out, headers.directories + 4 * 8 + 4, 0);
    return out;
}

// Places the icon's images, each in its smallest form; those that do not fit are left
// out, the largest first, each with a warning that says what room it would have had.
void PlaceIconThatFits(Tree& tree, const ResourceLayout& layout, const ProgramLook& look)
{
    Key language = TakeOutIcon(tree);
    std::vector<IconImage> images;
    for (const IconImage& image : ReadIconFile(look.icon))
        images.push_back(SmallestForm(image, look.iconXp));
    std::vector<const IconImage*> kept;
    for (const IconImage& image : images)
        kept.push_back(&image);
    auto roomWith = [&](const std::vector<const IconImage*>& set) {
        Tree trial = tree;
        PlaceIcon(trial, language, set);
        return Room(trial, layout);
    };
    // Largest first; of two the same size, the larger picture goes first.
    auto larger = [](const IconImage* a, const IconImage* b) {
        if (a->data.size() != b->data.size())
            return a->data.size() > b->data.size();
        return (u64)a->width * a->height > (u64)b->width * b->height;
    };
    std::vector<const IconImage*> left;
    while (!kept.empty() && roomWith(kept) < 0) {
        auto largest = std::min_element(kept.begin(), kept.end(), larger);
        left.push_back(*largest);
        kept.erase(largest);
    }
    // The room each left-out image would have had beside those kept: its bytes, not its
    // entries, are what does not fit.
    auto roomFor = [&](const IconImage* image) {
        IconImage entriesOnly = *image;
        entriesOnly.data.clear();
        std::vector<const IconImage*> set = kept;
        set.push_back(&entriesOnly);
        return Thousands((u64)std::max<int64_t>(0, roomWith(set)));
    };
    if (kept.empty()) {
        if (Room(tree, layout) < 0)
            return;  // the version resource alone is too large: said by the caller
        Fail(EXIT_USAGE, "icon: not one image of " + look.icon + " fits in front of the archive: the smallest, " +
                             ImageName(*left.back()) + ", has " + roomFor(left.back()) + " bytes free");
    }
    if (look.iconAll && !left.empty()) {
        std::string what;
        for (const IconImage* image : left)
            what += (what.empty() ? "" : "; ") + ImageName(*image) + " does not fit: " + roomFor(image) +
                    " bytes are free";
        Fail(EXIT_USAGE, "icon: " + what + " (--icon-all: every image of " + look.icon + " or none)");
    }
    for (const IconImage* image : left)
        Warn("icon: " + ImageName(*image) + " is left out: " + roomFor(image) + " bytes are free");
    // The images keep the order of the file.
    std::vector<const IconImage*> ordered;
    for (const IconImage& image : images)
        if (std::find(kept.begin(), kept.end(), &image) != kept.end())
            ordered.push_back(&image);
    PlaceIcon(tree, language, ordered);
}

// --icon-xp with no icon of the product's: the program's own icon keeps its pictures, and
// its PNG images below 256x256 become bitmaps, which Windows XP reads.
void OwnIconForXp(Tree& tree)
{
    auto group = tree[IdKey(RT_GROUP_ICON)].find(IdKey(PROGRAM_ICON_ID));
    if (group == tree[IdKey(RT_GROUP_ICON)].end())
        return;
    Names& icons = tree[IdKey(RT_ICON)];
    for (auto& entry : group->second) {
        std::vector<u8>& g = entry.second.data;
        for (u32 i = 0; i < GroupEntries(g); i++) {
            size_t at = GroupEntryAt(i);
            auto found = icons.find(IdKey(Get16(g, at + 12)));
            if (found == icons.end())
                continue;
            for (auto& image : found->second) {
                IconImage own = GroupImage(g, i, image.second.data);
                IconImage form = SmallestForm(own, true);
                if (form.png == own.png)
                    continue;
                image.second.data = form.data;
                std::copy(form.entry, form.entry + 8, g.begin() + at);
                Put32(g, at + 8, (u32)form.data.size());
            }
        }
    }
}

}  // namespace

std::vector<u8> ApplyProgramLook(const std::vector<u8>& program, const ProgramLook& look)
{
    if (look.icon.empty() && !look.hasVersion && !look.iconXp)
        return program;
    ResourceLayout layout = LayoutOf(program);
    if (look.unbounded)
        layout.limit = (int64_t)1 << 40;
    Tree tree = ReadTree(program, layout);
    if (look.hasVersion)
        PlaceVersion(tree, look);
    if (!look.icon.empty())
        PlaceIconThatFits(tree, layout, look);
    else if (look.iconXp)
        OwnIconForXp(tree);
    std::vector<u8> out = WriteProgram(program, layout, tree);
    if (out.size() > ARCHIVE_OFFSET && !look.unbounded)
        Fail(EXIT_USAGE, "with the version resource" + std::string(look.icon.empty() ? "" : " and no icon image") +
                             " the installer program takes " + std::to_string(out.size()) + " bytes, " +
                             std::to_string(out.size() - ARCHIVE_OFFSET) +
                             " more than the 57344 (0xE000) that fit before the archive");
    return out;
}

ProgramResources ReadProgramResources(const std::string& path)
{
    ProgramResources result;
    std::vector<u8> program(ARCHIVE_OFFSET);
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return result;
    program.resize(fread(program.data(), 1, program.size(), file));
    fclose(file);
    try {
        ResourceLayout layout = LayoutOf(program);
        Tree tree = ReadTree(program, layout);
        result.freeBytes = layout.limit - layout.Resources().virtualSize;
        auto group = tree[IdKey(RT_GROUP_ICON)].find(IdKey(PROGRAM_ICON_ID));
        if (group != tree[IdKey(RT_GROUP_ICON)].end() && !group->second.empty()) {
            const std::vector<u8>& g = group->second.begin()->second.data;
            Names& icons = tree[IdKey(RT_ICON)];
            for (u32 i = 0; i < GroupEntries(g); i++) {
                auto found = icons.find(IdKey(Get16(g, GroupEntryAt(i) + 12)));
                if (found == icons.end() || found->second.empty())
                    continue;
                IconImage data = GroupImage(g, i, found->second.begin()->second.data);
                ProgramIconImage image;
                image.width = data.width;
                image.height = data.height;
                image.png = data.png;
                image.bits = data.Bits();
                image.bytes = (u32)data.data.size();
                result.icon.push_back(image);
            }
        }
        result.read = true;
    } catch (const Failure&) {
        result.read = false;
    }
    return result;
}
