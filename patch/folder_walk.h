// The decisions of the manual folder walk: what to list, what to patch and what the walk yields.
// Platform-neutral, no I/O: the platform lists a folder, reads a directory's identity, tells whether a
// directory lies inside the folders the walk may write in, and patches a page.
//
// The walk is a shortest-path search. What it must yield is what a plain depth-first walk of every path
// would: each folder yields what its last handled entry yields, a cycle yields 0 where it closes, and a
// path beyond Windows' limit can't be listed or opened. Done literally, that walk follows links into 2^n
// paths through a ladder of n levels that each hold two links to the next, and a cycle ends only at the
// path limit. So this walk lists each directory once instead, in the order of the length of its shortest
// path from the top folder (Dijkstra's order, kept as one bucket per path length: every step down adds a
// backslash and a name), and patches a directory's pages when it lists it. It rests on two facts:
// - A page is reachable within the limits exactly when it is by its shortest path, which visits no
//   directory twice: so listing each directory once, by its shortest path, patches every such page once.
// - A folder yields what its last handled entry yields: so what the top folder yields from every path is
//   found by following one chain of last entries, at the lengths of the paths along it, once everything
//   is listed.
// The path limit's contract: every listing, identity and page open takes its path literally ("\\?\"),
// but lengths are measured as the ordinary form would be: a folder is listed only where its ordinary
// pattern (its path and "\*.*") fits in kLongestPath, and a page is patched only where its path does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The longest path Windows lists or opens without the "\\?\" form: MAX_PATH less the terminator.
inline constexpr std::size_t kLongestPath = 259;
inline constexpr std::uint32_t kDirectoryAttribute = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t kReparsePointAttribute = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT: a link

// Which directory a path leads to, whatever links it went through and however its name reads.
struct DirectoryId {
    std::uint64_t volume;
    std::uint64_t high;  // the 128-bit file id; the 64-bit file index sits in `low`
    std::uint64_t low;
    bool isFileIndex;  // a file index and a 128-bit id never name the same directory
};

// One entry of a listing: its long name and its attributes.
struct ListedEntry {
    std::wstring name;
    std::uint32_t attributes;
};

class FolderWalkPlatform {
  public:
    // The folder's entries in listing order, "." and ".." included or not; false when it can't be
    // listed. A listing that breaks off gives the entries so far.
    [[nodiscard]] virtual bool ListFolder(const std::wstring& folder, std::vector<ListedEntry>& entries) = 0;
    // Nothing when the directory can't be opened or has no identity.
    [[nodiscard]] virtual std::optional<DirectoryId> ReadDirectoryId(const std::wstring& folder) = 0;
    // Whether the directory at `folder` really lies inside the folders the walk may write in, after every
    // link; false when that can't be told.
    [[nodiscard]] virtual bool LiesInside(const std::wstring& folder) = 0;
    // 1 when the page was handled to the end, 0 when a step failed.
    [[nodiscard]] virtual int PatchPage(const std::wstring& page) = 0;

  protected:
    ~FolderWalkPlatform() = default;
};

// Whether `location`, where the platform says a file or folder really lies, is one of `folders` (given in
// the same form) or lies below one. Compared exactly: both come from the same query of the platform.
[[nodiscard]] bool LiesWithin(std::wstring_view location, const std::vector<std::wstring>& folders) noexcept;

// A page is a file whose extension, as the platform's PathFindExtensionW finds it (the last dot, unless a
// space follows it), is ".htm" or ".html" in any case of the letters A to Z.
[[nodiscard]] bool IsDocumentName(std::wstring_view name) noexcept;

// Walks `folder` and everything below it, links included, with the results of a depth-first walk of
// every path: each folder yields what its last handled entry (a directory whose name doesn't begin
// with a dot, or a page) yields; a folder whose ordinary pattern ("\*.*" appended) or a page whose path
// is longer than kLongestPath yields 0, and so does a directory met again on its own path (a cycle). Each
// directory is listed once; each page that some path reaches within the limits is patched once, and no
// other. A top folder, or a directory link, that does not lie inside yields 0 and is not listed; a
// link that does is followed like any folder. Identities are read only once a link is met. A directory
// reached through a link whose identity can't be read is walked without following the links below it. A
// folder that memory runs out for yields 0, and the walk goes on.
[[nodiscard]] int WalkFolderTree(const std::wstring& folder, FolderWalkPlatform& platform) noexcept;
