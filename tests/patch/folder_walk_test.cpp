// The walk against a model of Windows: a drive holding the maker's two folders and folders outside,
// links whose targets are text of every form, and the hosts and devices a link may name. The model hands
// out handles, opens one name at a time as Windows does (a link as itself) and checks where every open
// and write lands. On thousands of random trees the walk yields what a walk of every path yields, also
// under Wine, which follows every link it opens; on small ones, on Windows, an entry replaced by a link
// out before each of the walk's calls in turn never lets an open or a write land outside. (Wine can't
// show that: it opens a folder swapped for a link through the link and shows it as a plain folder.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bytes.h"
#include "folder_walk.h"

namespace {

constexpr std::size_t kNoNode = SIZE_MAX;
using K = LinkTarget::Kind;

enum class Kind { Folder, Document, Compressed, DirectoryLink, FileLink };
constexpr bool IsLink(Kind kind) {
    return kind == Kind::DirectoryLink || kind == Kind::FileLink;
}
constexpr bool IsDocument(Kind kind) {
    return kind == Kind::Document || kind == Kind::Compressed;
}

struct Node {
    std::wstring name;  // a root's is the NT path that names it
    Kind kind = Kind::Folder;
    std::size_t parent = kNoNode;
    std::vector<std::size_t> children;  // in listing order
    std::wstring target;                // a link's, as it stores it
    bool relative = false;
    int result = 1;  // a document's
    bool readOnly = false;
};

// The drive, then what a link may name that is no local path.
const wchar_t* const kRoots[] = {L"\\??\\C:",
                                 L"\\??\\UNC\\host\\share",
                                 L"\\??\\GLOBALROOT\\Device\\HarddiskVolume2",
                                 L"\\RPC Control",
                                 L"\\??\\Volume{5c1a2b3d-4e5f-6071-8293-a4b5c6d7e8f9}",
                                 L"\\??\\D:"};
const std::vector<std::wstring> kMakerFolders = {L"\\\\?\\C:\\M0", L"\\\\?\\C:\\Data\\M1"};
const wchar_t* const kMakerPaths[] = {L"\\??\\C:\\M0", L"\\??\\C:\\Data\\M1"};  // as links name them

struct FakeTree {
    std::vector<Node> nodes;  // the roots first
    std::size_t maker[2] = {};
    std::size_t generated = 0;  // the first node MakeTree added
    std::size_t topNode = 0;
    std::wstring path;  // the top's ordinary path
    Way top;
    bool identities = true;  // false: odd nodes have no identity
};

std::size_t Child(const FakeTree& tree, std::size_t folder, std::wstring_view name) {
    if (folder == kNoNode) return kNoNode;
    for (const std::size_t child : tree.nodes[folder].children) {
        if (tree.nodes[child].name == name) return child;
    }
    return kNoNode;
}

std::size_t Add(FakeTree& tree, std::size_t parent, std::wstring name, Kind kind, std::size_t at = SIZE_MAX) {
    Node& node = tree.nodes.emplace_back();
    node.name = std::move(name);
    node.kind = kind;
    node.parent = parent;
    std::vector<std::size_t>& children = tree.nodes[parent].children;
    children.push_back(tree.nodes.size() - 1);
    std::rotate(children.begin() + static_cast<std::ptrdiff_t>(std::min(at, children.size() - 1)),
                children.end() - 1, children.end());
    return tree.nodes.size() - 1;
}

// The names from a root down to `node`, the root's first.
std::vector<std::wstring> NamesOf(const FakeTree& tree, std::size_t node) {
    std::vector<std::wstring> names;
    for (; node != kNoNode; node = tree.nodes[node].parent)
        names.insert(names.begin(), tree.nodes[node].name);
    return names;
}

std::wstring PathOf(const FakeTree& tree, std::size_t node) {
    std::wstring path;
    for (const std::wstring& name : NamesOf(tree, node)) path += (path.empty() ? L"" : L"\\") + name;
    return path;
}

// A link lies where its folder lies.
bool Inside(const FakeTree& tree, std::size_t node) {
    for (; node != kNoNode; node = tree.nodes[node].parent) {
        if (node == tree.maker[0] || node == tree.maker[1]) return true;
    }
    return false;
}

// Where a link leads, as Windows follows it (from the root its target names, or from its folder with
// ".." taken by name), or `within` as the walk may follow it (from the maker's folder its target names by
// whole names, or that its folder lies in, never climbing out of it); links on the way alike. kNoNode
// for nothing, a loop (a link met again while it is being followed), or a refusal.
std::size_t Follow(const FakeTree& tree, std::size_t link, bool within,
                   std::vector<std::size_t> following = {}) {
    if (std::find(following.begin(), following.end(), link) != following.end()) return kNoNode;
    following.push_back(link);
    const Node& node = tree.nodes[link];
    std::size_t at = kNoNode;
    std::vector<std::wstring> names;
    if (node.relative) {
        for (std::size_t f = node.parent; f != kNoNode && at == kNoNode; f = tree.nodes[f].parent) {
            if (within ? f == tree.maker[0] || f == tree.maker[1] : tree.nodes[f].parent == kNoNode) at = f;
            if (at == kNoNode) names.insert(names.begin(), tree.nodes[f].name);
        }
        names.push_back(node.target);
    } else {
        for (std::size_t start = 0; start < (within ? 2 : std::size(kRoots)); ++start) {
            const std::wstring_view prefix = within ? kMakerPaths[start] : kRoots[start];
            if (node.target.compare(0, prefix.size(), prefix) != 0 ||
                (node.target.size() > prefix.size() && node.target[prefix.size()] != L'\\'))
                continue;
            at = within ? tree.maker[start] : start;
            names = {node.target.substr(prefix.size())};
        }
    }
    if (at == kNoNode || (within && following.size() > kMostLinkHops)) return kNoNode;
    std::vector<std::wstring> way;
    for (const std::wstring& text : names) {
        for (std::size_t from = 0, end = 0; from <= text.size(); from = end + 1) {
            end = std::min(text.find(L'\\', from), text.size());
            const std::wstring name = text.substr(from, end - from);
            if (name == L".." && way.empty() && within) return kNoNode;
            if (name == L".." && !way.empty()) way.pop_back();
            if (!name.empty() && name != L"." && name != L"..") way.push_back(name);
        }
    }
    for (std::size_t i = 0; i < way.size(); ++i) {
        if (at == kNoNode || tree.nodes[at].kind != Kind::Folder) return kNoNode;
        at = Child(tree, at, way[i]);
        if (at == kNoNode || !IsLink(tree.nodes[at].kind)) continue;
        // The walk opens a link on the way as a folder, and the last as what the first link is.
        const bool asFolder = i + 1 < way.size() || node.kind == Kind::DirectoryLink;
        if (within && (tree.nodes[at].kind == Kind::DirectoryLink) != asFolder) return kNoNode;
        at = Follow(tree, at, within, following);
    }
    return at;
}

// What a handle holds, as what it was opened, and whether Wine followed a file link to it.
struct HeldNode {
    std::size_t node = kNoNode;
    EntryKind kind = EntryKind::OtherReparse;
    bool throughFileLink = false;
};

// Before call `at`, `entry` is replaced by a link to `target`.
struct Swap {
    std::size_t at = SIZE_MAX;
    std::size_t entry = kNoNode;
    std::wstring target;
    bool relative = false;
};

// The tree as Windows, or Wine, shows it through handles, every call counted. On Windows no open lands
// outside and nothing outside is written. Under Wine, which follows links when asked not to, nothing
// outside is written but through a file link, which it shows as a file.
class FakeWindows final : public FolderWalkPlatform {
  public:
    FakeWindows(FakeTree& tree, bool wine, Swap swap = {})
        : tree_(tree), wine_(wine), swap_(std::move(swap)) {
        held_[1] = {tree.maker[0], EntryKind::Directory};
        held_[2] = {tree.maker[1], EntryKind::Directory};
    }
    ~FakeWindows() {  // undoes the swap
        if (swapLink_ == kNoNode) return;
        std::vector<std::size_t>& siblings = tree_.nodes[tree_.nodes[swapLink_].parent].children;
        *std::find(siblings.begin(), siblings.end(), swapLink_) = swap_.entry;
        tree_.nodes.pop_back();
    }

    HeldHandle MakerFolder(std::size_t index) override {
        Call();
        return index < 2 ? index + 1 : kNotHeld;
    }
    OpenedEntry OpenEntry(HeldHandle folder, std::wstring_view name, bool asFolder) override {
        EXPECT_EQ(name.find(L'\\'), std::wstring_view::npos) << "more than one name";
        const std::size_t entry = Child(tree_, Take(folder, EntryKind::Directory).node, name);
        const bool follow = wine_ && entry != kNoNode && IsLink(tree_.nodes[entry].kind);  // asked not to
        const std::size_t at = follow ? Follow(tree_, entry, false) : entry;
        if (!wine_ && at != kNoNode && !Inside(tree_, at))
            ADD_FAILURE() << "an open lands outside, on " << at;
        return Open({at, EntryKind::Document, follow && tree_.nodes[entry].kind == Kind::FileLink}, asFolder,
                    !wine_);
    }
    HeldHandle OpenListedFolder(HeldHandle folder, std::wstring_view name) override {
        const OpenedEntry entry = OpenEntry(folder, name, true);
        if (entry.handle != kNotHeld) held_[entry.handle].kind = EntryKind::Directory;  // not read
        return entry.handle;
    }
    OpenedEntry Reopen(HeldHandle stub, bool asFolder) override {
        return Open(Take(stub, EntryKind::OtherReparse), asFolder, false);
    }
    HeldHandle Duplicate(HeldHandle handle) override {
        const HeldNode held = Take(handle);
        return held.node != kNoNode ? Hand(held) : kNotHeld;
    }
    void Close(HeldHandle handle) noexcept override {
        Call();
        if (handle <= 2 || held_.erase(handle) == 0) ADD_FAILURE() << "closes " << handle;
    }
    bool ListFolder(HeldHandle folder, std::vector<ListedEntry>& entries) override {
        const std::size_t at = Take(folder, EntryKind::Directory).node;
        if (at == kNoNode) return false;
        ++listings[at];
        entries.push_back({L".", kDirectoryAttribute});
        entries.push_back({L"..", kDirectoryAttribute});
        for (const std::size_t child : tree_.nodes[at].children) {
            static const std::uint32_t kAttributes[] = {0x10, 0x20, 0x420, 0x410, 0x420};  // by Kind
            const Node& node = tree_.nodes[child];
            const bool plain = wine_ && node.kind == Kind::FileLink;
            entries.push_back(
                {node.name, (plain ? 0x20 : kAttributes[static_cast<int>(node.kind)]) | node.readOnly});
        }
        return true;
    }
    LinkTarget ReadLinkTarget(HeldHandle link) override {
        const HeldNode held = Take(link);
        if (held.kind != EntryKind::Link)
            return {held.kind == EntryKind::OtherReparse ? K::Refused : K::Followed, {}};
        const Node& node = tree_.nodes[held.node];
        return {node.relative ? K::Relative : K::Absolute, node.target};
    }
    std::optional<DirectoryId> ReadDirectoryId(HeldHandle folder) override {
        const std::size_t at = Take(folder).node;
        if (at == kNoNode) return std::nullopt;
        ++reads[at];
        if (!tree_.identities && at % 2 == 1) return std::nullopt;
        return DirectoryId{7, 0, at + 1, false};
    }
    bool LiesInside(HeldHandle handle) override { return Inside(tree_, Take(handle).node); }
    int PatchDocument(HeldHandle document, bool readOnly) override {
        const HeldNode held = Take(document, readOnly ? EntryKind::ReadOnlyDocument : EntryKind::Document);
        if (held.node == kNoNode) return 0;
        if (!Inside(tree_, held.node) && !held.throughFileLink)
            ADD_FAILURE() << "writes outside, to " << held.node;
        ++patches[held.node];
        return tree_.nodes[held.node].result;
    }

    std::map<std::size_t, int> listings, reads, patches;
    std::size_t calls = 0;
    std::size_t most = 0;  // handles held at once
    [[nodiscard]] std::size_t StillHeld() const { return held_.size() - 2; }

  private:
    void Call() {
        if (calls++ != swap_.at) return;
        Node link = tree_.nodes[swap_.entry];
        link.kind = link.kind == Kind::Folder ? Kind::DirectoryLink : Kind::FileLink;
        link.children.clear();
        link.target = swap_.target;
        link.relative = swap_.relative;
        swapLink_ = tree_.nodes.size();
        std::vector<std::size_t>& siblings = tree_.nodes[link.parent].children;
        *std::find(siblings.begin(), siblings.end(), swap_.entry) = swapLink_;
        tree_.nodes.push_back(std::move(link));
    }
    // What the handle holds, the call counted; nothing, and a failure, where it is not held or not of `kind`.
    HeldNode Take(HeldHandle handle, std::optional<EntryKind> kind = std::nullopt) {
        Call();
        const auto found = held_.find(handle);
        if (found != held_.end() && (!kind || found->second.kind == *kind)) return found->second;
        ADD_FAILURE() << "handle " << handle
                      << (found == held_.end() ? " is not held" : " is of another kind");
        return {};
    }
    // A handle to `held.node` if it is of the kind asked for; a reparse point that is no link as its stub.
    OpenedEntry Open(HeldNode held, bool asFolder, bool asStub) {
        if (held.node == kNoNode) return {};
        const Node& node = tree_.nodes[held.node];
        if ((node.kind == Kind::Folder || node.kind == Kind::DirectoryLink) != asFolder) return {};
        held.kind = node.kind == Kind::Folder                 ? EntryKind::Directory
                    : IsLink(node.kind)                       ? EntryKind::Link
                    : node.kind == Kind::Compressed && asStub ? EntryKind::OtherReparse
                    : node.readOnly                           ? EntryKind::ReadOnlyDocument
                                                              : EntryKind::Document;
        return {Hand(held), held.kind};
    }
    HeldHandle Hand(const HeldNode& held) {
        held_.emplace(next_, held);
        most = std::max(most, StillHeld());
        return next_++;
    }

    FakeTree& tree_;
    bool wine_;
    Swap swap_;
    std::size_t swapLink_ = kNoNode;
    std::map<HeldHandle, HeldNode> held_;  // 1 and 2 hold the maker's folders
    HeldHandle next_ = 3;
};

// What a depth-first walk of every path does: the result, and which documents and folders it reaches.
struct EveryPath {
    explicit EveryPath(std::size_t count) : reaches(count, kNoNode), listed(count), onPath(count) {}
    std::vector<std::size_t> lands;  // by node: itself, or where a link leads
    // By node: for a document or a file link within the limit, the document it stands for.
    std::vector<std::size_t> reaches;
    std::vector<bool> listed;
    std::vector<bool> onPath;
};

int WalkEveryPath(const FakeTree& tree, std::size_t folder, std::size_t length, EveryPath& walk) {
    if (length + 4 > kLongestPath || walk.onPath[folder]) return 0;
    walk.onPath[folder] = walk.listed[folder] = true;
    int result = 0;
    for (const std::size_t child : tree.nodes[folder].children) {
        const Node& entry = tree.nodes[child];
        const std::size_t childLength = length + 1 + entry.name.size();
        const std::size_t lands = walk.lands[child];
        const Kind landsOn = lands != kNoNode ? tree.nodes[lands].kind : Kind::FileLink;  // FileLink: nowhere
        if (entry.kind == Kind::Folder || entry.kind == Kind::DirectoryLink) {
            if (entry.name[0] == L'.') continue;
            // A link that leads out, or to nothing, is not entered.
            const bool enter = landsOn == Kind::Folder && Inside(tree, lands);
            result = enter ? WalkEveryPath(tree, lands, childLength, walk) : 0;
        } else if (IsDocumentName(entry.name)) {
            const bool reached = childLength <= kLongestPath && IsDocument(landsOn);
            if (reached) walk.reaches[child] = lands;
            result = reached ? tree.nodes[lands].result : 0;
        }
    }
    walk.onPath[folder] = false;
    return result;
}

// A name for an entry of `kind`, unused in its folder, often about as long as what is left to the limit.
std::wstring MakeName(std::mt19937& random, const FakeTree& tree, std::size_t folder, Kind kind,
                      bool document) {
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
        if (kind != Kind::Folder && kind != Kind::DirectoryLink) {
            if (document) name += random() % 2 == 0 ? L".htm" : L".HTML";
            if (!document) name += random() % 2 == 0 ? L".htm b" : L".txt";
        }
        if (Child(tree, folder, name) == kNoNode) return name;
    }
}

std::size_t AddEntry(std::mt19937& random, FakeTree& tree, std::size_t folder, Kind kind,
                     bool document = true) {
    std::wstring name = MakeName(random, tree, folder, kind, document);
    return Add(tree, folder, std::move(name), kind, random() % (tree.nodes[folder].children.size() + 1));
}

// A link in `folder` to `to`: absolute, relative (climbing out of its maker's folder where `to` lies
// elsewhere), through another link, to nothing, or where `loops`, to itself.
std::size_t AddLink(std::mt19937& random, FakeTree& tree, std::size_t folder, Kind kind, std::size_t to,
                    bool loops) {
    const std::size_t link = AddEntry(random, tree, folder, kind, random() % 4 != 0);
    std::wstring target = PathOf(tree, to);
    const std::vector<std::wstring> from = NamesOf(tree, folder), names = NamesOf(tree, to);
    const std::uint32_t form = random() % 8;
    if (form < 2 && from[0] == names[0]) {
        std::size_t common = 0;
        while (common < std::min(from.size(), names.size()) && from[common] == names[common]) ++common;
        target = L".";
        for (std::size_t i = common; i < from.size(); ++i) target += L"\\..";
        for (std::size_t i = common; i < names.size(); ++i) target += L"\\" + names[i];
        target = target.size() > 1 ? target.substr(2) : target;  // "..\a" or "a", not ".\..\a"
        tree.nodes[link].relative = true;
    } else if (const std::size_t via = tree.generated + random() % (link - tree.generated + 1); form == 2) {
        const std::size_t lands = IsLink(tree.nodes[via].kind) ? Follow(tree, via, false) : kNoNode;
        const std::vector<std::size_t> beyond =
            lands != kNoNode ? tree.nodes[lands].children : std::vector<std::size_t>();
        if (!beyond.empty())
            target = PathOf(tree, via) + L"\\" + tree.nodes[beyond[random() % beyond.size()]].name;
    }
    tree.nodes[link].target = form == 3            ? target + L"\\nothing"
                              : form == 4 && loops ? PathOf(tree, link)
                                                   : target;
    return link;
}

// The drive with the maker's folders C:\M0 and C:\Data\M1; C:\Out, the other roots, and C:\M0x and
// C:\Data\M10, whose names begin as theirs do, lie outside. C:\Out and the other roots hold a document and a
// folder "d" with a document. Then folders inside, some beside the top or in the other maker's folder, which
// only links lead to; folders outside; documents, compressed or read-only; links to anything, chains and
// cycles among them. `small` keeps to a few folders and entries.
FakeTree MakeTree(std::uint32_t seed, bool small) {
    std::mt19937 random(seed);
    FakeTree tree;
    for (const wchar_t* root : kRoots) tree.nodes.emplace_back().name = root;
    for (std::size_t root = 0; root < std::size(kRoots); ++root) {
        const std::size_t out = root == 0 ? Add(tree, 0, L"Out", Kind::Folder) : root;
        Add(tree, Add(tree, out, L"d", Kind::Folder), L"x.htm", Kind::Document);
        Add(tree, out, L"x.htm", Kind::Document);
    }
    tree.maker[0] = Add(tree, 0, L"M0", Kind::Folder);
    tree.maker[1] = Add(tree, Add(tree, 0, L"Data", Kind::Folder), L"M1", Kind::Folder);
    const std::size_t outside[] = {std::size(kRoots), Add(tree, 0, L"M0x", Kind::Folder),
                                   Add(tree, tree.nodes[tree.maker[1]].parent, L"M10", Kind::Folder)};
    tree.generated = tree.nodes.size();

    tree.top.makerFolder = random() % 2;
    std::vector<std::size_t> folders = {tree.maker[tree.top.makerFolder]};
    // Tops of many lengths, so that the limit falls a few names below them, or at the top itself.
    if (random() % 8 != 0) {
        tree.top.names = {std::wstring(1 + random() % 252, L'r')};
        folders[0] = Add(tree, folders[0], tree.top.names[0], Kind::Folder);
    }
    tree.topNode = folders[0];
    tree.path = PathOf(tree, folders[0]).substr(4);
    const std::size_t inside = 1 + random() % (small ? 4 : 8);
    const bool ladder = !small && random() % 4 == 0;
    std::vector<std::size_t> links;
    for (std::size_t f = 1; f < inside; ++f) {
        const std::size_t parent = ladder              ? folders[f - 1]
                                   : random() % 5 == 0 ? tree.maker[random() % 2]
                                                       : folders[random() % f];
        folders.push_back(AddEntry(random, tree, parent, Kind::Folder));
        if (ladder) links.push_back(AddLink(random, tree, parent, Kind::DirectoryLink, folders[f], true));
    }
    for (std::size_t f = random() % 3 == 0 ? 1 + random() % (small ? 1 : 2) : 0; f > 0; --f) {
        const std::size_t home = f == 1 || random() % 2 == 0 ? outside[random() % 3] : folders.back();
        folders.push_back(AddEntry(random, tree, home, Kind::Folder));
    }
    std::vector<std::size_t> documents;
    for (const std::size_t folder : folders) {
        for (std::size_t files = random() % (small ? 2 : 4); files > 0; --files) {
            const bool htm = random() % 3 != 0;
            const std::size_t document =
                AddEntry(random, tree, folder, random() % 6 == 0 ? Kind::Compressed : Kind::Document, htm);
            tree.nodes[document].result = random() % 5 == 0 ? 0 : 1;
            tree.nodes[document].readOnly = random() % 6 == 0;
            if (htm) documents.push_back(document);
        }
    }
    for (std::size_t n = ladder ? 0 : random() % (small ? 3 : 5) + folders.size() - inside; n > 0; --n) {
        const bool file = !documents.empty() && random() % 4 == 0;
        // Now and then anything, or a link before it: a chain.
        const std::size_t to = random() % 4 == 0                     ? random() % tree.nodes.size()
                               : random() % 3 == 0 && !links.empty() ? links[random() % links.size()]
                               : file                                ? documents[random() % documents.size()]
                                                                     : folders[random() % folders.size()];
        const std::size_t folder = folders[random() % folders.size()];
        links.push_back(
            AddLink(random, tree, folder, file ? Kind::FileLink : Kind::DirectoryLink, to, !small));
    }
    tree.identities = random() % 10 != 0;
    return tree;
}

std::string Narrow(std::wstring_view text) {
    return std::string(text.begin(), text.end());
}

std::string Describe(const FakeTree& tree) {
    static const char* const kKinds[] = {"folder", "document", "compressed document", "directory link",
                                         "file link"};
    std::string text = "top of " + std::to_string(tree.path.size()) + " characters, maker's folders " +
                       std::to_string(tree.maker[0]) + " and " + std::to_string(tree.maker[1]);
    if (!tree.identities) text += ", odd nodes without identity";
    for (std::size_t n = tree.generated; n < tree.nodes.size(); ++n) {
        const Node& node = tree.nodes[n];
        text += "\n  " + std::to_string(n) + " in " + std::to_string(node.parent) + ": " +
                kKinds[static_cast<int>(node.kind)] + " [" + Narrow(node.name.substr(0, 12)) + "] of " +
                std::to_string(node.name.size()) + (node.readOnly ? ", read-only" : "") +
                (IsDocument(node.kind) ? ", yields " + std::to_string(node.result) : "");
        if (IsLink(node.kind)) text += (node.relative ? " to relative " : " to ") + Narrow(node.target);
    }
    return text;
}

TEST(FolderWalkTest, AgreesWithAWalkOfEveryPath) {
    constexpr std::uint32_t kTrees = 20000;
    int compared = 0;
    std::size_t most = 0;
    for (std::uint32_t seed = 0; seed < kTrees; ++seed) {
        FakeTree tree = MakeTree(seed, false);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + Describe(tree));
        for (const bool wine : {false, true}) {
            SCOPED_TRACE(wine ? "under Wine" : "on Windows");
            FakeWindows platform(tree, wine);
            const int result = WalkFolderTree(tree.path, tree.top, kMakerFolders, platform);
            ASSERT_EQ(platform.StillHeld(), 0u) << "handles left open";
            most = std::max(most, platform.most);
            const std::size_t count = tree.nodes.size();
            EveryPath every(count);
            std::map<std::size_t, int> leadingTo = {{tree.topNode, 1}};  // beyond its entry: the top's call
            bool links = false, fileLinkOut = false;
            for (std::size_t n = 0; n < tree.nodes.size(); ++n) {
                links |= IsLink(tree.nodes[n].kind);
                every.lands.push_back(IsLink(tree.nodes[n].kind) ? Follow(tree, n, !wine) : n);
                if (IsLink(tree.nodes[n].kind)) ++leadingTo[every.lands[n]];
                fileLinkOut |= tree.nodes[n].kind == Kind::FileLink && !Inside(tree, every.lands[n]);
            }
            ASSERT_TRUE(links || platform.reads.empty()) << "an identity read without links";
            // Without identities nothing bounds a walk of every path: the walk must end, and that is all.
            // Nor does anything under Wine bound a file link out, which may be written through or not.
            if (!tree.identities || (wine && fileLinkOut)) continue;
            for (const auto& [node, reads] : platform.reads)
                ASSERT_LE(reads, 1 + leadingTo[node]) << "node " << node << " identified again";

            ASSERT_EQ(result, WalkEveryPath(tree, tree.topNode, tree.path.size(), every));
            // Each document once for each entry that reaches it, each folder listed once or not at all.
            std::map<std::size_t, int> reached;
            for (const std::size_t document : every.reaches) reached[document] += document != kNoNode ? 1 : 0;
            for (std::size_t n = 0; n < tree.nodes.size(); ++n) {
                ASSERT_EQ(platform.patches[n], reached[n]) << "document " << n;
                ASSERT_EQ(platform.listings[n], every.listed[n] ? 1 : 0) << "folder " << n;
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, static_cast<int>(kTrees) * 2 * 8 / 10);
    EXPECT_LE(most, 64u);
    std::cout << compared << " walks compared, at most " << most << " handles held at once\n";
}

// On Windows, before each of the walk's calls in turn, a folder or document inside is replaced by a link out,
// of each form: no open and no write lands outside, every handle is closed, and only a few are held at
// once.
TEST(FolderWalkTest, NothingOutsideIsOpenedWhateverIsSwappedInBetween) {
    constexpr std::uint32_t kTrees = 300;
    const wchar_t* const kOut[] = {L"\\??\\C:\\Out\\", L"Out\\", L"\\??\\UNC\\host\\share\\",
                                   L"\\??\\GLOBALROOT\\Device\\HarddiskVolume2\\"};
    std::size_t walks = 0, most = 0;
    for (std::uint32_t seed = 0; seed < kTrees; ++seed) {
        FakeTree tree = MakeTree(seed, true);
        std::size_t calls = 0;
        {
            FakeWindows platform(tree, false);
            (void)WalkFolderTree(tree.path, tree.top, kMakerFolders, platform);
            calls = platform.calls;
        }
        for (std::size_t entry = tree.generated; entry < tree.nodes.size(); ++entry) {
            if (IsLink(tree.nodes[entry].kind) || !Inside(tree, entry)) continue;
            for (const wchar_t* const out : kOut) {
                Swap swap{0, entry, L"", out[0] != L'\\'};
                // Relative: up to the drive's root first.
                for (std::size_t up = NamesOf(tree, entry).size(); swap.relative && up > 2; --up)
                    swap.target += L"..\\";
                swap.target += out + std::wstring(tree.nodes[entry].kind == Kind::Folder ? L"d" : L"x.htm");
                for (swap.at = 0; swap.at <= calls; ++swap.at, ++walks) {
                    FakeWindows platform(tree, false, swap);
                    (void)WalkFolderTree(tree.path, tree.top, kMakerFolders, platform);
                    EXPECT_EQ(platform.StillHeld(), 0u) << "handles left open";
                    most = std::max(most, platform.most);
                    if (HasFailure()) {
                        FAIL() << "seed " << seed << ", " << entry << " replaced before call " << swap.at
                               << " by a link to " << Narrow(swap.target) << ": " << Describe(tree);
                    }
                }
            }
        }
    }
    std::cout << walks << " walks with a swap, at most " << most << " handles held at once\n";
    EXPECT_LE(most, 64u);
}

constexpr std::uint32_t kSymbolicLink = 0xA000000C;

// A REPARSE_DATA_BUFFER: the tag, the data's length, two reserved bytes, the offsets and lengths of the
// substitute and print names, a symbolic link's flags, then the names, the print name "p" first or last.
Bytes ReparseData(std::uint32_t tag, std::wstring_view name, std::uint32_t flags = 0,
                  bool printFirst = false) {
    const std::size_t length = 2 * name.size(), extra = tag == kSymbolicLink ? 4 : 0;
    std::vector<std::size_t> words = {tag & 0xFFFF,         tag >> 16, 10 + extra + length,     0,
                                      printFirst ? 2u : 0u, length,    printFirst ? 0 : length, 2};
    if (extra != 0) words.insert(words.end(), {flags & 0xFFFF, flags >> 16});
    for (const wchar_t c : printFirst ? L"p" + std::wstring(name) : std::wstring(name) + L"p")
        words.push_back(static_cast<std::size_t>(c));
    Bytes bytes;
    for (const std::size_t word : words)
        bytes.insert(bytes.end(), {static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8)});
    return bytes;
}

// Only a junction's or a symbolic link's substitute name, and only where the data holds all of it.
TEST(FolderWalkTest, ReparseDataGivesTheSubstituteName) {
    const Bytes junction = ReparseData(0xA0000003, L"\\??\\C:\\M0\\a");
    const Bytes printFirst = ReparseData(0xA0000003, L"\\??\\C:\\M0\\a", 0, true);
    const auto edit = [](Bytes bytes, std::size_t size, std::size_t at = 0, unsigned char value = 0) {
        bytes.resize(size);
        if (at != 0) bytes[at] = value;
        return bytes;
    };
    const struct {
        const char* name;
        Bytes data;
        K kind;
        const wchar_t* path = L"";
    } rows[] = {
        {"junction", junction, K::Absolute, L"\\??\\C:\\M0\\a"},
        {"print name first", printFirst, K::Absolute, L"\\??\\C:\\M0\\a"},
        {"symbolic link", ReparseData(kSymbolicLink, L"\\??\\C:\\Data\\M1\\b"), K::Absolute,
         L"\\??\\C:\\Data\\M1\\b"},
        {"relative symbolic link", ReparseData(kSymbolicLink, L"..\\x\\y", 1), K::Relative, L"..\\x\\y"},
        {"another tag", ReparseData(0x8000001B, L"\\??\\C:\\M0\\a"), K::Refused},
        {"nothing", {}, K::Refused},
        {"header only", edit(junction, 8), K::Refused},
        {"symbolic link without its flags", edit(ReparseData(kSymbolicLink, L"x"), 18), K::Refused},
        {"cut within the name", edit(junction, 30), K::Refused},
        {"name past the end", edit(printFirst, printFirst.size(), 10, 24), K::Refused},
        {"name of an odd length", edit(junction, junction.size(), 10, 21), K::Refused},
    };
    for (const auto& row : rows) {
        const LinkTarget target = ParseReparseData(row.data.data(), row.data.size());
        EXPECT_EQ(target.kind, row.kind) << row.name;
        EXPECT_EQ(target.path, row.kind == K::Refused ? target.path : row.path) << row.name;
    }
}

// Followed only to a local path below a maker's folder, named by whole names as its final path spells
// them, and never by climbing out of the maker's folder a relative target starts in.
TEST(FolderWalkTest, LinkTargetsLeadOnlyBelowAMakersFolder) {
    // Ways as text: the maker's folder's index, then the names; nothing where the target is refused.
    const struct {
        const char* name;
        K kind;
        const wchar_t* target;
        const wchar_t* from;
        const wchar_t* to;
    } rows[] = {
        {"relative", K::Relative, L"x\\y", L"0\\a", L"0\\a\\x\\y"},
        {"relative, up", K::Relative, L"..\\x", L"1\\q", L"1\\x"},
        {"relative, climbing out", K::Relative, L"..\\..\\Out", L"0\\a", nullptr},
        {"relative, out and back in", K::Relative, L"..\\..\\M0\\a", L"0\\a", nullptr},
        {"relative to the drive's root", K::Relative, L"\\M0\\a", L"0\\a", nullptr},
        {"into the first", K::Absolute, L"\\??\\C:\\M0\\a\\b", L"1", L"0\\a\\b"},
        {"into the second", K::Absolute, L"\\??\\C:\\Data\\M1\\c", L"0\\a", L"1\\c"},
        {"a maker's folder itself", K::Absolute, L"\\??\\C:\\Data\\M1", L"0\\a", L"1"},
        {"above it", K::Absolute, L"\\??\\C:\\Data", L"0\\a", nullptr},
        {"a name that begins as its", K::Absolute, L"\\??\\C:\\M0x\\a", L"0\\a", nullptr},
        {"case differing in A to Z", K::Absolute, L"\\??\\c:\\m0\\a", L"0\\a", L"0\\a"},
        {"absolute, climbing out", K::Absolute, L"\\??\\C:\\M0\\..\\Out", L"0\\a", nullptr},
        {"another drive", K::Absolute, L"\\??\\D:\\M0\\a", L"0\\a", nullptr},
        {"another host", K::Absolute, L"\\??\\UNC\\host\\share\\M0\\a", L"0\\a", nullptr},
        {"a device", K::Absolute, L"\\??\\GLOBALROOT\\Device\\HarddiskVolume2\\M0", L"0\\a", nullptr},
        {"a volume by its name", K::Absolute, L"\\??\\Volume{5c1a2b3d}\\M0", L"0\\a", nullptr},
        {"no NT path", K::Absolute, L"C:\\M0\\a", L"0\\a", nullptr},
    };
    const auto wayOf = [](const wchar_t* text) {
        Way way{static_cast<std::size_t>(text[0] - L'0'), {}};
        for (const wchar_t* at = text + 1; *at != 0; ++at) {
            if (*at == L'\\') way.names.emplace_back();
            if (*at != L'\\') way.names.back() += *at;
        }
        return way;
    };
    for (const auto& row : rows) {
        Way resolved{1, {L"stale"}};
        std::optional<Way> to;
        if (ResolveLinkTarget({row.kind, row.target}, wayOf(row.from), kMakerFolders, resolved))
            to = Way{resolved.makerFolder, {}};
        // "." and ".." may be left to the open: climbing out of the maker's folder, they lead nowhere.
        for (const std::wstring& name : to ? resolved.names : std::vector<std::wstring>()) {
            if (to && name == L".." && to->names.empty()) to.reset();
            if (to && name == L"..") to->names.pop_back();
            if (to && name != L"." && name != L"..") to->names.push_back(name);
        }
        EXPECT_EQ(to.has_value(), row.to != nullptr) << row.name;
        if (!to || row.to == nullptr) continue;
        EXPECT_EQ(to->makerFolder, wayOf(row.to).makerFolder) << row.name;
        EXPECT_EQ(to->names, wayOf(row.to).names) << row.name;
    }
}

// A document is known by its extension alone, as PathFindExtensionW finds it: the last dot, unless a space
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
TEST(FolderWalkTest, LiesInsideTakesWholeNames) {
    const std::vector<std::wstring> folders = {L"\\\\?\\C:\\ProgramData\\Halvern Corporation",
                                               L"\\\\?\\D:\\"};
    const struct {
        const char* name;
        const wchar_t* location;
        bool within;
    } cases[] = {
        {"the folder itself", L"\\\\?\\C:\\ProgramData\\Halvern Corporation", true},
        {"below it", L"\\\\?\\C:\\ProgramData\\Halvern Corporation\\Orvet Care\\a.htm", true},
        {"below a drive root, which ends in its own backslash", L"\\\\?\\D:\\a.htm", true},
        {"a name that begins as its", L"\\\\?\\C:\\ProgramData\\Halvern Corporation2\\a.htm", false},
        {"part of its name", L"\\\\?\\C:\\ProgramData\\Halvern", false},
        {"above it", L"\\\\?\\C:\\ProgramData", false},
        {"spelled in another case", L"\\\\?\\c:\\programdata\\halvern corporation\\a.htm", false},
        {"another drive", L"\\\\?\\E:\\ProgramData\\Halvern Corporation\\a.htm", false},
        {"nowhere", L"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(LiesInside(c.location, folders), c.within) << c.name;
    EXPECT_FALSE(LiesInside(L"\\\\?\\D:\\a.htm", {}));
}

}  // namespace
