// The decisions of the manual folder walk: what to list, what to patch and what the walk yields.
// Platform-neutral, no I/O: everything is opened through containment.h, relative to folders held open.
// WalkFolderTree below states what the walk yields; this says why it is built as it is.
//
// Its result is what a depth-first walk of every path would give (the tool has always reported a
// folder's last entry, and its notice depends on it). Done literally, that walk follows links into 2^n
// paths through a ladder of n levels that each hold two links to the next, and a cycle ends only at the
// path limit. So this walk is a shortest-path search: it lists each directory once, in the order of the
// length of its shortest path from the top folder (Dijkstra's order, kept as one bucket per path length:
// every step down adds a backslash and a name), and patches a directory's documents when it lists it. It
// rests on two facts:
// - A document is reachable within the limits exactly when it is by its shortest path, which visits no
//   directory twice: so listing each directory once, by its shortest path, patches every such document once.
// - A folder yields what its last handled entry yields: so what the top folder yields from every path is
//   found by following one chain of last entries, at the lengths of the paths along it, once everything
//   is listed.
// Folders are held open only a few at a time (kHeldFolders, the most recently used, and the folders of
// one way down): a directory waiting in its bucket is known by its folder and its name, and is opened
// again from its folder's handle, which is opened again the same way when it was let go. Names are taken
// literally, but lengths are measured as the ordinary form of a path would be.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "containment.h"

// The longest path Windows lists or opens without the "\\?\" form: MAX_PATH less the terminator.
inline constexpr std::size_t kLongestPath = 259;

// A document is a file whose extension, as the platform's PathFindExtensionW finds it (the last dot, unless a
// space follows it), is ".htm" or ".html" in any case of the letters A to Z.
[[nodiscard]] bool IsDocumentName(std::wstring_view name) noexcept;

// Walks the folder that `top` leads to from a maker's folder, and everything below it, links included,
// with the results of a depth-first walk of every path; `path` is its ordinary path, by whose length
// the limits are measured. Each folder yields what its last handled entry (a directory whose name
// doesn't begin with a dot, or a document) yields; a folder whose ordinary pattern (its path and "\*.*") or
// a document whose path is longer than kLongestPath yields 0, as Windows lists and opens neither, and so
// does a directory met again on its own path (a cycle). A link is followed where it leads inside the maker's
// folders, and yields 0 where it leads out or can't be read, as a folder that can't be listed; so does a top
// folder that does not lie inside, and one for which no handle can be had. Exact wherever a directory's
// identity can be read: then each directory is listed once, and each document that some path reaches within
// the limits is patched once, and no other. A directory reached through a link whose identity can't be read
// is walked without following the links below it. A folder that memory runs out for yields 0, and the walk
// goes on.
[[nodiscard]] int WalkFolderTree(std::wstring_view path, const Way& top,
                                 const std::vector<std::wstring>& makerFolders,
                                 FolderWalkPlatform& platform) noexcept;
