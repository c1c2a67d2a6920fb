// PatchFolderTree on real trees in a scratch folder. Wine lists a folder sorted by upper-cased name,
// "." and ".." first, which fixes which entry is handled last and so what a walk yields.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "files.h"
#include "fixed_texts.h"
#include "machine.h"
#include "patch.h"
#include "scratch_folder_test.h"
#include "text.h"
#include "unique_handle.h"

namespace {

// A document that needs the tag, and what it must become; spelled out so that a wrong tag shows.
const std::string kDocument = "<head></head>";
const std::string kPatchedDocument = "<head>" + kTag + "</head>";

enum class Kind {
    Folder,
    Document,      // a document that must come out patched
    HeldDocument,  // a document held open by another handle while the walk runs: it yields 0, untouched
    LeftAlone,     // a file with document content that must come out untouched: no document, or not reached
};

struct Entry {
    std::wstring path;  // relative to the case's folder
    Kind kind;
    DWORD attributes = 0;
};

struct TreeCase {
    const char* name;
    std::vector<Entry> entries;  // parents before children
    int expected;
};

void MakeFolder(const std::wstring& path) {
    ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << "create " << path << ": " << ::GetLastError();
}

void BuildTree(const std::wstring& folder, const std::vector<Entry>& entries) {
    ASSERT_NO_FATAL_FAILURE(MakeFolder(folder));
    for (const Entry& entry : entries) {
        const std::wstring path = folder + L'\\' + entry.path;
        if (entry.kind == Kind::Folder) {
            ASSERT_NO_FATAL_FAILURE(MakeFolder(path));
        } else {
            ASSERT_TRUE(WriteFileBytes(path, kDocument)) << path;
        }
    }
    // Attributes last, so that a read-only folder has its children already.
    for (const Entry& entry : entries) {
        if (entry.attributes == 0) continue;
        const std::wstring path = folder + L'\\' + entry.path;
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), entry.attributes)) << path;
    }
}

// Builds the case's tree under `folder`, walks it and checks the result and every file's bytes.
void WalkCase(const std::wstring& folder, const TreeCase& treeCase) {
    SCOPED_TRACE(treeCase.name);
    ASSERT_NO_FATAL_FAILURE(BuildTree(folder, treeCase.entries));

    std::vector<DWORD> attributesBefore;
    std::vector<UniqueFileHandle> held;
    for (const Entry& entry : treeCase.entries) {
        const std::wstring path = folder + L'\\' + entry.path;
        attributesBefore.push_back(::GetFileAttributesW(path.c_str()));
        if (entry.kind != Kind::HeldDocument) continue;
        held.push_back(HoldOpen(path));
        ASSERT_TRUE(held.back()) << "hold " << path << ": " << ::GetLastError();
    }

    const int result = PatchFolderTree(folder, {ReadFolderLocation(folder)});
    held.clear();

    EXPECT_EQ(result, treeCase.expected);
    for (std::size_t i = 0; i < treeCase.entries.size(); ++i) {
        const Entry& entry = treeCase.entries[i];
        const std::wstring path = folder + L'\\' + entry.path;
        if (entry.kind != Kind::Folder) {
            EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"),
                      entry.kind == Kind::Document ? kPatchedDocument : kDocument)
                << entry.path;
        }
        const DWORD after = ::GetFileAttributesW(path.c_str());
        if (entry.kind == Kind::Document) {
            EXPECT_EQ(WithoutArchiveBit(after), WithoutArchiveBit(attributesBefore[i]))
                << "attributes of " << entry.path;
        } else {
            EXPECT_EQ(after, attributesBefore[i]) << "attributes of " << entry.path;
        }
    }
}

class PatchFolderTreeTest : public ScratchFolderTest {
  protected:
    PatchFolderTreeTest() : ScratchFolderTest(L"orvet-walk") {}
    void SetUp() override {
        ScratchFolderTest::SetUp();
        inside_ = {ReadFolderLocation(scratch_)};
    }

    // A fresh folder for each case of a table.
    std::wstring GetCaseFolder(std::size_t index) const {
        return scratch_ + L"\\case" + std::to_wstring(index);
    }

    std::vector<std::wstring> inside_;  // the scratch folder stands for the maker's
};

// `levels` levels, each with a document and a sibling folder listed after it that holds another.
std::vector<Entry> GetEveryDepthEntries(int levels) {
    std::vector<Entry> entries;
    std::wstring path;
    for (int level = 1; level <= levels; ++level) {
        path += (path.empty() ? L"" : L"\\") + std::wstring(L"level") + std::to_wstring(level);
        entries.push_back({path, Kind::Folder});
        entries.push_back({path + L"\\page.htm", Kind::Document});
        entries.push_back({path + L"\\side", Kind::Folder});
        entries.push_back({path + L"\\side\\page.html", Kind::Document});
    }
    return entries;
}

TEST_F(PatchFolderTreeTest, TheLastEntryHandledDecidesTheResult) {
    using K = Kind;
    constexpr DWORD kHidden = FILE_ATTRIBUTE_HIDDEN;
    constexpr DWORD kSystem = FILE_ATTRIBUTE_SYSTEM;
    constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
    const std::vector<TreeCase> cases = {
        {"only . and ..", {}, 0},
        {"document, then an empty folder", {{L"a.htm", K::Document}, {L"b", K::Folder}}, 0},
        {"empty folder, then a document", {{L"a", K::Folder}, {L"b.htm", K::Document}}, 1},
        {"good documents, then one held open",
         {{L"a.htm", K::Document}, {L"b.html", K::Document}, {L"c.htm", K::HeldDocument}},
         0},
        {"a document held open, masked by a later good one",
         {{L"a.htm", K::HeldDocument}, {L"b.htm", K::Document}},
         1},
        {"good document, then a folder whose only document is held open",
         {{L"a.htm", K::Document}, {L"b", K::Folder}, {L"b\\c.htm", K::HeldDocument}},
         0},
        {"a document held open, then a folder with a good document",
         {{L"a.htm", K::HeldDocument}, {L"b", K::Folder}, {L"b\\c.htm", K::Document}},
         1},
        {"other files after a good document keep its result",
         {{L"a.htm", K::Document}, {L"b.txt", K::LeftAlone}, {L"c", K::LeftAlone}},
         1},
        {"other files after a document held open keep its result",
         {{L"a.htm", K::HeldDocument}, {L"b.txt", K::LeftAlone}},
         0},
        {"no documents at all", {{L"a.txt", K::LeftAlone}, {L"b.htm.bak", K::LeftAlone}}, 0},
        {"a folder named like a document is walked, not patched",
         {{L"a.htm", K::HeldDocument}, {L"b.htm", K::Folder}, {L"b.htm\\c.htm", K::Document}},
         1},
        {"a folder named like a document, empty and last",
         {{L"a.htm", K::Document}, {L"b.html", K::Folder}},
         0},
        {"a dot folder is skipped and sets no result",
         {{L".git", K::Folder}, {L".git\\a.htm", K::LeftAlone}},
         0},
        {"good document, then a folder that holds only a dot folder",
         {{L"a.htm", K::Document},
          {L"b", K::Folder},
          {L"b\\.svn", K::Folder},
          {L"b\\.svn\\c.htm", K::LeftAlone}},
         0},
        // Only directories are passed over for a leading dot, however the rest of the name reads.
        {"dot folders are not entered however they are named",
         {{L".git", K::Folder},
          {L".git\\a.htm", K::LeftAlone},
          {L".htm", K::Folder},
          {L".htm\\b.htm", K::LeftAlone},
          {L"..more", K::Folder},
          {L"..more\\c.htm", K::LeftAlone},
          {L".page.html", K::Document},
          {L"plain", K::Folder},
          {L"plain\\.inner", K::Folder},
          {L"plain\\.inner\\d.htm", K::LeftAlone},
          {L"plain\\e.htm", K::Document}},
         1},
        {"hidden, system and read-only entries are handled like any other",
         {{L"all.htm", K::Document, kHidden | kSystem | kReadOnly},
          {L"hidden.htm", K::Document, kHidden},
          {L"hs", K::Folder, kHidden | kSystem},
          {L"hs\\in.htm", K::Document},
          {L"readonly.htm", K::Document, kReadOnly},
          {L"ro", K::Folder, kReadOnly},
          {L"ro\\in.htm", K::Document, kReadOnly},
          {L"system.htm", K::Document, kSystem}},
         1},
        // A sibling folder listed after each document, so that each level's result comes from below.
        {"documents are reached at every depth", GetEveryDepthEntries(12), 1},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) WalkCase(GetCaseFolder(i), cases[i]);
}

// The names a real file system must keep as they are for the walk to judge them (the whole table of names
// is folder_walk_test's): a name that is all extension, spaces, a character outside ASCII.
TEST_F(PatchFolderTreeTest, DocumentsAreKnownByTheirExtensionAlone) {
    struct Name {
        const wchar_t* name;
        bool document;
    };
    const Name names[] = {
        {L".htm", true},       {L"c.HTM", true},    {L"f g.htm", true},
        {L"h.htm.bak", false}, {L"o.htm b", false}, {L"p.htm\u00a0", false},
    };
    std::vector<Entry> entries;
    for (const Name& name : names)
        entries.push_back({name.name, name.document ? Kind::Document : Kind::LeftAlone});
    // The last document listed, "f g.htm", patches well.
    WalkCase(GetCaseFolder(0), {"extensions", entries, 1});
}

TEST_F(PatchFolderTreeTest, WhatIsNoFolderYieldsZero) {
    const std::wstring document = scratch_ + L"\\page.htm";
    ASSERT_TRUE(WriteFileBytes(document, kDocument)) << document;
    const struct {
        const char* name;
        std::wstring folder;
    } cases[] = {
        {"missing folder", scratch_ + L"\\missing"},
        {"missing parent", scratch_ + L"\\missing\\deeper"},
        {"a document given as the folder", document},
    };
    for (const auto& c : cases) EXPECT_EQ(PatchFolderTree(c.folder, inside_), 0) << c.name;
    EXPECT_EQ(ReadFileBytes(document).value_or("<unreadable>"), kDocument);
}

// Creates folders below `base` so that the deepest one's path is exactly `length` characters long.
std::wstring MakeFolderOfLength(const std::wstring& base, std::size_t length) {
    std::wstring path = base;
    while (path.size() < length) {
        const std::size_t room = length - path.size();  // the backslash and the name
        // Never leave room for a backslash alone.
        const std::size_t name = room > 101 ? std::min<std::size_t>(100, room - 3) : room - 1;
        path += L'\\' + std::wstring(name, L'd');
        if (!::CreateDirectoryW(path.c_str(), nullptr)) return {};
    }
    return path;
}

// Windows opens no document path longer than 259 characters for this executable (the "\\?\" form would
// open it, and the walk refuses it itself); the walk counts a "\\?\" prefix like any other character.
TEST_F(PatchFolderTreeTest, PatchesADocumentPathOf259CharactersAndLeavesOneOf260) {
    const std::wstring base = L"\\\\?\\" + scratch_;
    if (base.size() + 2 > 250) GTEST_SKIP() << "temporary folder too deep for the boundary";
    const std::wstring folder = MakeFolderOfLength(base, 250);
    ASSERT_EQ(folder.size(), 250u);
    const std::wstring fits = folder + L"\\abcd.htm";
    const std::wstring tooLong = folder + L"\\abcde.htm";  // listed after it
    ASSERT_EQ(fits.size(), 259u);
    for (const std::wstring& document : {fits, tooLong})
        ASSERT_TRUE(WriteFileBytes(document, kDocument)) << "write document";

    EXPECT_EQ(PatchFolderTree(folder, inside_), 0);
    EXPECT_EQ(ReadFileBytes(fits).value_or("<unreadable>"), kPatchedDocument);
    EXPECT_EQ(ReadFileBytes(tooLong).value_or("<unreadable>"), kDocument);
    // Without it, the document within the limit is the last entry handled.
    ASSERT_TRUE(::DeleteFileW(tooLong.c_str()));
    EXPECT_EQ(PatchFolderTree(folder, inside_), 1);
}

// Counts the directory links (directories with the reparse-point bit) in the tree below `folder`, a
// literal path, so that "y." is not taken for "y".
int CountDirectoryLinks(const std::wstring& folder) {
    int links = 0;
    for (const WIN32_FIND_DATAW& entry : ListFolder(folder)) {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            ++links;
        } else {
            links += CountDirectoryLinks(folder + L'\\' + entry.cFileName);
        }
    }
    return links;
}

// The links table. On Windows the test makes its trees itself, with directory junctions and symbolic
// links; Wine makes no links (a junction fails with error 50, a symbolic link is reported made and is
// not), so there the test writes the folders and a plan of the links, patch_folder_tree_unix_trees.sh
// makes them on the Unix side, and a second run walks them. In the discovered run under Wine these
// cases skip themselves.
struct TreeLink {
    std::wstring path;    // below the trees' folder
    std::wstring target;  // the folder it leads to, below the trees' folder too
};

struct LinkTrees {
    std::vector<std::wstring> folders;  // parents first
    std::vector<TreeLink> links;
};

// On Windows the trees go into the fixture's scratch folder.
class PatchFolderTreeLinkTreeTest : public PatchFolderTreeTest {};

void MakeLinkTreeFolders(const std::wstring& trees, const LinkTrees& t) {
    for (const std::wstring& folder : t.folders) {
        const std::wstring path = L"\\\\?\\" + trees + L'\\' + folder;
        ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << Narrow(path) << ": " << ::GetLastError();
    }
}

// The shortcut tree's D, whose path by way of S, X and l is 225 characters long.
std::wstring GetShortcutBottom(const std::wstring& trees) {
    return L"shortcut\\" + std::wstring(60, L'a') + L'\\' + std::wstring(100, L'd') + L'\\' +
           std::wstring(225 - (trees + L"\\shortcut\\S\\l\\").size() - 101, L'e');
}

// Each tree with its documents, which the cases write:
// - cycle-long, cycle-ab: two links back to their own folder, with long names, which reach the path limit
//   within a few levels, or with one-letter names: about 100 levels fit in the limit, 2^100 paths;
// - ladder: 30 folders, each holding two links to the next, the document in the last: 2^30 paths, no cycle;
// - two-links: two links to one folder outside, which holds the document;
// - space, devices: the cycle of cycle-ab in a folder named "y " (Windows drops the trailing space) or
//   "prn" with links "lpt1" and "lpt2" (devices to Windows), the document listed last;
// - guide: two folders named "aux", after a link that makes the walk read identities;
// - limit: a link whose path is 253 characters long leads to z, listed after it, whose sub lies beyond
//   the limit that way;
// - dots: "y." and "y.." beside it, each with a document, and a link z to "y.": ordinary paths would take
//   "y." for "y" and "y.." for "y.";
// - lengths: a link "a" and one of 100 letters to one folder outside, which holds p.htm and a document of
//   150 letters that only the short way reaches within the limit;
// - context: A\B\L links back to A, whose last entry is its document, and Z links to A\B;
// - shortcut: A, of 60 letters, holds X, whose link l leads back to A, and two folders down to D at 225
//   characters by way of S, X and l; S links to X. D's document lies within the limit only that way;
// - ladder-lengths: 7 levels, each a folder "a" and a link to it of 2^i+1 letters: 128 lengths of path
//   to the bottom folder, which holds the documents.
LinkTrees DescribeLinkTrees(const std::wstring& trees) {
    LinkTrees t;
    const auto folders = [&t](std::initializer_list<std::wstring> paths) {
        t.folders.insert(t.folders.end(), paths);
    };
    const auto link = [&t](std::wstring path, std::wstring target) {
        t.links.push_back({std::move(path), std::move(target)});
    };
    folders({L"cycle-long", L"cycle-ab", L"ladder", L"shared", L"two-links"});
    link(L"cycle-long\\zz-link-one-to-its-own-folder-xxxxxxxxxxxx", L"cycle-long");
    link(L"cycle-long\\zz-link-two-to-its-own-folder-xxxxxxxxxxxx", L"cycle-long");
    link(L"cycle-ab\\a", L"cycle-ab");
    link(L"cycle-ab\\b", L"cycle-ab");
    for (int level = 1; level <= 30; ++level) {
        const std::wstring rung = L"ladder\\" + std::to_wstring(level);
        folders({rung});
        if (level == 30) break;
        link(rung + L"\\x", L"ladder\\" + std::to_wstring(level + 1));
        link(rung + L"\\y", L"ladder\\" + std::to_wstring(level + 1));
    }
    link(L"two-links\\a", L"shared");
    link(L"two-links\\b", L"shared");
    folders({L"space", L"space\\y ", L"devices", L"devices\\prn", L"guide", L"guide\\Setup",
             L"guide\\Setup\\aux", L"guide\\Tools", L"guide\\Tools\\aux"});
    link(L"space\\y \\a ", L"space\\y ");
    link(L"space\\y \\b ", L"space\\y ");
    link(L"devices\\prn\\lpt1", L"devices\\prn");
    link(L"devices\\prn\\lpt2", L"devices\\prn");
    link(L"guide\\A-link", L"guide\\Setup");
    const std::wstring ells(253 - (trees + L"\\limit\\a\\").size() - 4, L'L');  // then "\lnk"
    folders({L"limit", L"limit\\a", L"limit\\a\\" + ells, L"limit\\z", L"limit\\z\\sub"});
    link(L"limit\\a\\" + ells + L"\\lnk", L"limit\\z");
    folders({L"dots", L"dots\\y.", L"dots\\y..", L"lengths", L"lengths-target"});
    link(L"dots\\z", L"dots\\y.");
    link(L"lengths\\a", L"lengths-target");
    link(L"lengths\\" + std::wstring(100, L'b'), L"lengths-target");
    folders({L"context", L"context\\A", L"context\\A\\B"});
    link(L"context\\A\\B\\L", L"context\\A");
    link(L"context\\Z", L"context\\A\\B");
    const std::wstring longA = L"shortcut\\" + std::wstring(60, L'a');
    const std::wstring bottom = GetShortcutBottom(trees);
    folders({L"shortcut", longA, longA + L"\\X", bottom.substr(0, bottom.rfind(L'\\')), bottom});
    link(longA + L"\\X\\l", longA);
    link(L"shortcut\\S", longA + L"\\X");
    std::wstring rung = L"ladder-lengths";
    folders({rung});
    for (std::size_t level = 0; level < 7; ++level) {
        link(rung + L'\\' + std::wstring((std::size_t{1} << level) + 1, L'x'), rung + L"\\a");
        rung += L"\\a";
        folders({rung});
    }
    return t;
}

// Under Wine: the folders, and the links as lines of "target<TAB>link" in Unix paths for the driver
// script. Wine shows the root file system as Z:.
TEST_F(PatchFolderTreeLinkTreeTest, PlansTheLinksForTheUnixSide) {
    const std::wstring trees = GetEnvironmentText(L"ORVET_WALK_LINK_TREES");
    const std::wstring plan = GetEnvironmentText(L"ORVET_WALK_LINK_PLAN");
    if (trees.empty() || plan.empty())
        GTEST_SKIP() << "for patch_folder_tree_unix_trees.sh (ORVET_WALK_LINK_PLAN)";
    const LinkTrees t = DescribeLinkTrees(trees);
    ASSERT_NO_FATAL_FAILURE(MakeLinkTreeFolders(trees, t));
    const auto unix = [&trees](const std::wstring& path) {
        std::string text = Narrow((trees + L'\\' + path).substr(2));
        std::replace(text.begin(), text.end(), '\\', '/');
        return text;
    };
    std::string lines;
    for (const TreeLink& link : t.links) lines += unix(link.target) + '\t' + unix(link.path) + '\n';
    ASSERT_TRUE(WriteFileBytes(plan, lines));
}

TEST_F(PatchFolderTreeLinkTreeTest, EveryDocumentWithinTheLimitIsPatchedOnceWhateverLinksLeadToIt) {
    std::wstring trees = GetEnvironmentText(L"ORVET_WALK_LINK_TREES");
    if (!machine::RunsUnderWine()) {
        trees = scratch_;
        // The long document of "lengths" must fit by the short way.
        if (trees.size() > 90) GTEST_SKIP() << "temporary folder too deep for the trees' path lengths";
        const LinkTrees t = DescribeLinkTrees(trees);
        ASSERT_NO_FATAL_FAILURE(MakeLinkTreeFolders(trees, t));
        // Both kinds of directory link: junctions, which any user may make, and symbolic links, which
        // the kit's administrator may.
        for (std::size_t i = 0; i < t.links.size(); ++i) {
            const std::wstring link = L"\\\\?\\" + trees + L'\\' + t.links[i].path;
            const std::wstring target = L"\\\\?\\" + trees + L'\\' + t.links[i].target;
            const bool made =
                i % 2 == 0 ? MakeJunction(link, target) : MakeDirectorySymbolicLink(link, target);
            ASSERT_TRUE(made) << Narrow(link) << ": " << ::GetLastError();
        }
    } else if (trees.empty()) {
        GTEST_SKIP() << "needs patch_folder_tree_unix_trees.sh (ORVET_WALK_LINK_TREES)";
    }
    // Two Internet-zone comments: a second patch would replace the second one too.
    const std::string document = "<head></head>" + kZone + kZone;
    const std::string patchedOnce = kPatchedDocument + kLocal + kZone;
    // The ladder's bottom folder holds a document for each of its 128 lengths of path, named so that each
    // length puts another document beyond the limit; by the shortest path all lie within it.
    const std::wstring bottom = L"ladder-lengths\\a\\a\\a\\a\\a\\a\\a";
    const std::size_t shortest = trees.size() + 1 + bottom.size();
    std::vector<std::wstring> ladderDocuments;
    for (std::size_t k = 0; k < 128; ++k)
        ladderDocuments.push_back(bottom + L'\\' + std::wstring(MAX_PATH - 1 - shortest - 1 - 4 - k, L'p') +
                                  L".htm");
    const struct {
        const wchar_t* folder;  // walked
        int links;              // in the tree below it
        std::vector<std::wstring> documents;
        int expected;
    } cases[] = {
        // The links are listed after the document, so a cycle is the last entry: 0, as on Windows, where
        // the path limit refuses the deepest level of the cycle.
        {L"cycle-long", 2, {L"cycle-long\\0.htm"}, 0},
        {L"cycle-ab", 2, {L"cycle-ab\\0.htm"}, 0},
        // Without a record of the directories walked, 2^30 paths.
        {L"ladder\\1", 2, {L"ladder\\30\\page.htm"}, 1},
        // The second link yields the first one's result.
        {L"two-links", 2, {L"shared\\page.htm"}, 1},
        // Names that Windows would take for another folder or a device outside a "\\?\" path: "y " for
        // "y", "prn" and "lpt1" for the printer port. The document is listed last.
        {L"space", 2, {L"space\\y \\page.htm"}, 1},
        {L"devices", 2, {L"devices\\prn\\page.htm"}, 1},
        // Folders named like the serial console, reached after a link: each has an identity of its own.
        {L"guide", 1, {L"guide\\Setup\\aux\\p.htm", L"guide\\Tools\\aux\\q.htm"}, 1},
        // z is reached first through a link at 253 characters, where z\sub lies beyond the limit, then
        // by its own shorter path, where it does not.
        {L"limit", 1, {L"limit\\z\\sub\\page.htm"}, 1},
        // A name ending in a dot is that folder, listed by the literal form: z leads to y.'s own document.
        {L"dots", 1, {L"dots\\y.\\p.htm", L"dots\\y..\\q.htm"}, 1},
        // One folder reached at two lengths, one of which puts its long document beyond the limit.
        {L"lengths",
         2,
         {L"lengths-target\\p.htm", L"lengths-target\\" + std::wstring(150, L'c') + L".htm"},
         1},
        // Z leads to B, whose link leads on to A: no cycle on that path, so Z yields A's document.
        {L"context", 2, {L"context\\A\\page.htm"}, 1},
        // A's own path puts D beyond the limit; S, X and l lead to A by a path 57 characters shorter.
        {L"shortcut", 2, {GetShortcutBottom(trees) + L"\\p.htm"}, 0},
        // Every level's link is listed last, so the result comes from the longest path to the bottom,
        // where its last document, the longest, lies beyond the limit.
        {L"ladder-lengths", 7, ladderDocuments, 0},
    };
    for (const auto& c : cases) {
        const std::wstring folder = trees + L'\\' + c.folder;
        SCOPED_TRACE(std::string(folder.begin(), folder.end()));
        // The links must show up as directory links, or this would prove nothing.
        ASSERT_EQ(CountDirectoryLinks(L"\\\\?\\" + folder), c.links);
        // The literal form, so that a folder named "y " is not taken for "y".
        for (const std::wstring& name : c.documents)
            ASSERT_TRUE(WriteFileBytes(L"\\\\?\\" + trees + L'\\' + name, document));

        EXPECT_EQ(PatchFolderTree(folder, {ReadFolderLocation(trees)}), c.expected);
        // Documents whose own path is longer than MAX_PATH too (the shortcut's, the long one of "lengths"):
        // opened relative to their folder, they need no location.
        for (const std::wstring& name : c.documents) {
            EXPECT_EQ(ReadFileBytes(L"\\\\?\\" + trees + L'\\' + name).value_or("<unreadable>"), patchedOnce)
                << std::string(name.begin(), name.end());
        }
    }
}

TEST_F(PatchFolderTreeLinkTreeTest, AnEmptyPathWalksNothing) {
    const std::wstring drive = GetEnvironmentText(L"ORVET_WALK_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "needs patch_folder_tree_unix_trees.sh (ORVET_WALK_DRIVE)";
    // Only on a drive of our own: a walk of another drive's root could reach anything.
    wchar_t current[MAX_PATH + 1]{};
    ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH + 1, current), 0u);
    ASSERT_EQ(std::wstring(current).substr(0, 3), drive + L"\\");
    const std::wstring document = drive + L"\\a.htm";
    ASSERT_TRUE(WriteFileBytes(document, kDocument)) << document;

    EXPECT_EQ(PatchFolderTree(L"", inside_), 0);
    EXPECT_EQ(ReadFileBytes(document).value_or("<unreadable>"), kDocument);
}

}  // namespace
