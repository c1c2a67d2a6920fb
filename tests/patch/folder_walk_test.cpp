// The walk's decisions against a walk of every path, on thousands of random trees of folders, links
// and pages held in memory: links to siblings, other branches, ancestors and themselves, ladders,
// names of every length about the path limit, names with trailing dots and spaces, device names, and
// folders outside the ones the walk may write in, which only links lead to.
#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "folder_walk.h"

namespace {

enum class Kind { Folder, Link, Page, Other };

struct FakeEntry {
    std::wstring name;
    Kind kind;
    std::size_t target;  // the folder a folder or link leads to, a page's number
};

struct FakeTree {
    std::wstring root;
    std::vector<std::vector<FakeEntry>> folders;  // each folder's entries in listing order; 0 is the root
    std::vector<int> pageResults;
    bool identities = true;  // false: odd folders have no identity
    std::size_t inside = 1;  // folders from this one on lie outside the folders the walk may write in
};

// The tree as a file system: paths are resolved name by name, literally, and every request is counted.
class FakePlatform final : public FolderWalkPlatform {
  public:
    explicit FakePlatform(const FakeTree& tree)
        : listings(tree.folders.size()),
          reads(tree.folders.size()),
          patches(tree.pageResults.size()),
          tree_(tree) {}

    bool ListFolder(const std::wstring& folder, std::vector<ListedEntry>& entries) override {
        const std::optional<std::size_t> index = Resolve(folder);
        if (!index) return false;
        beyondLimit |= folder.size() + 4 > kLongestPath;
        ++listings[*index];
        entries.push_back({L".", kDirectoryAttribute});
        entries.push_back({L"..", kDirectoryAttribute});
        for (const FakeEntry& entry : tree_.folders[*index]) {
            const std::uint32_t attributes = entry.kind == Kind::Folder ? kDirectoryAttribute
                                             : entry.kind == Kind::Link
                                                 ? kDirectoryAttribute | kReparsePointAttribute
                                                 : 0x20;
            entries.push_back({entry.name, attributes});
        }
        return true;
    }
    std::optional<DirectoryId> ReadDirectoryId(const std::wstring& folder) override {
        const std::optional<std::size_t> index = Resolve(folder);
        if (!index) return std::nullopt;
        ++reads[*index];
        if (!tree_.identities && *index % 2 == 1) return std::nullopt;
        return DirectoryId{7, 0, *index + 1, false};
    }
    bool LiesInside(const std::wstring& folder) override {
        const std::optional<std::size_t> index = Resolve(folder);
        return index && *index < tree_.inside;
    }
    int PatchPage(const std::wstring& page) override {
        beyondLimit |= page.size() > kLongestPath;
        const std::size_t slash = page.rfind(L'\\');
        const std::optional<std::size_t> folder = Resolve(page.substr(0, slash));
        if (folder) {
            for (const FakeEntry& entry : tree_.folders[*folder]) {
                if (entry.kind == Kind::Page && entry.name == page.substr(slash + 1)) {
                    ++patches[entry.target];
                    return tree_.pageResults[entry.target];
                }
            }
        }
        ADD_FAILURE() << "no such page";
        return 0;
    }

    std::vector<int> listings;
    std::vector<int> reads;
    std::vector<int> patches;
    bool beyondLimit = false;

  private:
    std::optional<std::size_t> Resolve(const std::wstring& path) const {
        if (path.compare(0, tree_.root.size(), tree_.root) != 0) return std::nullopt;
        std::size_t folder = 0;
        for (std::size_t at = tree_.root.size(); at < path.size();) {
            if (path[at] != L'\\') return std::nullopt;
            const std::size_t end = std::min(path.find(L'\\', at + 1), path.size());
            const std::wstring name = path.substr(at + 1, end - at - 1);
            std::optional<std::size_t> next;
            for (const FakeEntry& entry : tree_.folders[folder]) {
                if ((entry.kind == Kind::Folder || entry.kind == Kind::Link) && entry.name == name)
                    next = entry.target;
            }
            if (!next) return std::nullopt;
            folder = *next;
            at = end;
        }
        return folder;
    }

    const FakeTree& tree_;
};

// What a depth-first walk of every path does: the result, and which pages and folders it reaches.
struct EveryPath {
    std::vector<bool> reached;
    std::vector<bool> listed;
    std::vector<bool> onPath;
};

int WalkEveryPath(const FakeTree& tree, std::size_t folder, std::size_t length, EveryPath& walk) {
    if (length + 4 > kLongestPath || walk.onPath[folder]) return 0;
    walk.onPath[folder] = true;
    walk.listed[folder] = true;
    int result = 0;
    for (const FakeEntry& entry : tree.folders[folder]) {
        const std::size_t childLength = length + 1 + entry.name.size();
        if (entry.kind == Kind::Link && entry.target >= tree.inside) {
            if (entry.name[0] != L'.') result = 0;  // leads out: not entered
        } else if (entry.kind == Kind::Folder || entry.kind == Kind::Link) {
            if (entry.name[0] != L'.') result = WalkEveryPath(tree, entry.target, childLength, walk);
        } else if (entry.kind == Kind::Page) {
            result = 0;
            if (childLength <= kLongestPath) {
                walk.reached[entry.target] = true;
                result = tree.pageResults[entry.target];
            }
        }
    }
    walk.onPath[folder] = false;
    return result;
}

// A name for an entry of `kind`, unused in its folder, often about as long as what is left to the limit.
std::wstring MakeName(std::mt19937& random, Kind kind, const std::vector<FakeEntry>& siblings) {
    static const wchar_t* const kOdd[] = {L"y.",   L"y..", L"y ",    L"aux", L"prn",
                                          L"com1", L"nul", L"con.a", L".git"};
    for (;;) {
        std::wstring name;
        if (random() % 4 == 0) {
            name = kOdd[random() % std::size(kOdd)];
        } else {
            const std::size_t length = random() % 3 == 0 ? 1 + random() % 80 : 1 + random() % 6;
            name.assign(length, static_cast<wchar_t>(L'a' + random() % 3));
        }
        if (kind == Kind::Page) name += random() % 2 == 0 ? L".htm" : L".HTML";
        if (kind == Kind::Other) name += random() % 2 == 0 ? L".htm b" : L".txt";
        bool unused = true;
        for (const FakeEntry& sibling : siblings) unused &= sibling.name != name;
        if (unused) return name;
    }
}

void AddEntry(std::mt19937& random, FakeTree& tree, std::size_t folder, Kind kind, std::size_t target) {
    std::vector<FakeEntry>& entries = tree.folders[folder];
    FakeEntry entry{MakeName(random, kind, entries), kind, target};
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(random() % (entries.size() + 1)), entry);
}

FakeTree MakeTree(std::uint32_t seed) {
    std::mt19937 random(seed);
    FakeTree tree;
    // Roots of many lengths, so that the limit falls a few names below them, or at the root itself.
    tree.root = L"C:\\" + std::wstring(random() % 258, L'r');
    tree.inside = 1 + random() % 8;
    // Folders outside, with folders of their own, that only links lead to, and links may lead back from.
    const std::size_t folders = tree.inside + (random() % 3 == 0 ? 1 + random() % 2 : 0);
    tree.folders.resize(folders);
    const bool ladder = random() % 4 == 0;
    for (std::size_t f = 1; f < tree.inside; ++f) {
        const std::size_t parent = ladder ? f - 1 : random() % f;
        AddEntry(random, tree, parent, Kind::Folder, f);
        if (ladder) AddEntry(random, tree, parent, Kind::Link, f);
    }
    for (std::size_t f = tree.inside + 1; f < folders; ++f)
        AddEntry(random, tree, tree.inside + random() % (f - tree.inside), Kind::Folder, f);
    for (std::size_t links = ladder ? 0 : random() % 5 + (folders - tree.inside); links > 0; --links)
        AddEntry(random, tree, random() % folders, Kind::Link, random() % folders);
    for (std::size_t f = 0; f < folders; ++f) {
        for (std::size_t files = random() % 4; files > 0; --files) {
            const bool page = random() % 3 != 0;
            AddEntry(random, tree, f, page ? Kind::Page : Kind::Other, tree.pageResults.size());
            if (page) tree.pageResults.push_back(random() % 5 == 0 ? 0 : 1);
        }
    }
    tree.identities = random() % 10 != 0;
    return tree;
}

std::string Describe(const FakeTree& tree) {
    std::string text = "root of " + std::to_string(tree.root.size()) + " characters";
    if (!tree.identities) text += ", odd folders without identity";
    if (tree.inside < tree.folders.size()) text += ", outside from folder " + std::to_string(tree.inside);
    for (std::size_t f = 0; f < tree.folders.size(); ++f) {
        text += "\n  folder " + std::to_string(f) + ":";
        for (const FakeEntry& entry : tree.folders[f]) {
            static const char* const kKinds[] = {"folder", "link", "page", "file"};
            text += " [" + std::string(entry.name.begin(), entry.name.end()) + " " +
                    kKinds[static_cast<int>(entry.kind)];
            if (entry.kind != Kind::Other) text += " " + std::to_string(entry.target);
            text += "]";
        }
    }
    return text;
}

TEST(FolderWalkTest, AgreesWithAWalkOfEveryPath) {
    constexpr std::uint32_t kTrees = 20000;
    int compared = 0;
    for (std::uint32_t seed = 0; seed < kTrees; ++seed) {
        const FakeTree tree = MakeTree(seed);
        FakePlatform platform(tree);
        const int result = WalkFolderTree(tree.root, platform);

        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + Describe(tree));
        ASSERT_FALSE(platform.beyondLimit) << "a listing or a page beyond the limit";
        std::size_t links = 0;
        std::vector<int> leadingTo(tree.folders.size(), 1);  // its own entry, or the root's call
        for (const auto& entries : tree.folders) {
            for (const FakeEntry& entry : entries) {
                if (entry.kind == Kind::Link) ++links, ++leadingTo[entry.target];
            }
        }
        for (std::size_t f = 0; f < tree.folders.size() && links == 0; ++f)
            ASSERT_EQ(platform.reads[f], 0) << "an identity read without links";
        // Without identities nothing bounds a walk of every path: the walk must end, and that is all.
        if (!tree.identities) continue;
        for (std::size_t f = 0; f < tree.folders.size(); ++f)
            ASSERT_LE(platform.reads[f], leadingTo[f]) << "folder " << f << " identified again";

        EveryPath every{std::vector<bool>(tree.pageResults.size()), std::vector<bool>(tree.folders.size()),
                        std::vector<bool>(tree.folders.size())};
        ASSERT_EQ(result, WalkEveryPath(tree, 0, tree.root.size(), every));
        // Listed once, or not at all.
        for (std::size_t p = 0; p < tree.pageResults.size(); ++p)
            ASSERT_EQ(platform.patches[p], every.reached[p] ? 1 : 0) << "page " << p;
        for (std::size_t f = 0; f < tree.folders.size(); ++f)
            ASSERT_EQ(platform.listings[f], every.listed[f] ? 1 : 0) << "folder " << f;
        ++compared;
    }
    EXPECT_GT(compared, static_cast<int>(kTrees) * 8 / 10);
}

// A page is known by its extension alone, as PathFindExtensionW finds it: the last dot, unless a space
// or backslash follows it.
TEST(FolderWalkTest, DocumentsAreKnownByTheirExtensionAlone) {
    const struct {
        const wchar_t* name;
        bool document;
    } names[] = {
        {L"a.htm", true},        {L"b.html", true},       {L"c.HTM", true},        {L"d.HtMl", true},
        {L".htm", true},         {L".hidden.html", true}, {L"e.tar.htm", true},    {L"f g.htm", true},
        {L"h.htm.bak", false},   {L"i.xhtml", false},     {L"j.shtml", false},     {L"k.htmx", false},
        {L"l.ht", false},        {L"m.html~", false},     {L"noextension", false}, {L"o.htm b", false},
        {L"p.htm\u00a0", false}, {L"q.h\\tm", false},     {L"r.htm\\", false},     {L"", false},
        {L"s.\u0130TM", false},  // folds A to Z only
    };
    for (const auto& n : names)
        EXPECT_EQ(IsDocumentName(n.name), n.document) << std::string(n.name, n.name + std::wcslen(n.name));
}

// Inside is a folder itself or anything below it, by whole names, spelled as the platform spelled both.
TEST(FolderWalkTest, LiesWithinTakesWholeNames) {
    const std::vector<std::wstring> folders = {L"\\\\?\\C:\\ProgramData\\Halvern Corporation",
                                               L"\\\\?\\D:\\"};
    const struct {
        const wchar_t* location;
        bool within;
    } cases[] = {
        {L"\\\\?\\C:\\ProgramData\\Halvern Corporation", true},
        {L"\\\\?\\C:\\ProgramData\\Halvern Corporation\\Orvet Care\\a.htm", true},
        {L"\\\\?\\D:\\a.htm", true},  // a drive root ends in its own backslash
        {L"\\\\?\\C:\\ProgramData\\Halvern Corporation2\\a.htm", false},
        {L"\\\\?\\C:\\ProgramData\\Halvern", false},
        {L"\\\\?\\C:\\ProgramData", false},
        {L"\\\\?\\c:\\programdata\\halvern corporation\\a.htm", false},
        {L"\\\\?\\E:\\ProgramData\\Halvern Corporation\\a.htm", false},
        {L"", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(LiesWithin(cases[i].location, folders), cases[i].within) << "case " << i;
    EXPECT_FALSE(LiesWithin(L"\\\\?\\D:\\a.htm", {}));
}

}  // namespace
