// Patching of installed manual documents in place, inside the maker's folders only.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "containment.h"

// Where the folder at `folder` really lies, after every link, junction, mount point and redirection: the
// platform's final path of a handle to it ("\\?\C:\..."), the form in which the maker's folders are given
// below. Empty when it can't be opened or told.
[[nodiscard]] std::wstring ReadFolderLocation(const std::wstring& folder) noexcept;

// Patches the HTML document held by `document`, opened by held_files.h: for reading and writing, or, where
// `readOnly`, for its attributes, and then its read-only bit is cleared, the document opened again
// through that handle, and the bit put back once it is patched. Returns 1 when it was handled to the end
// (changed or not), 0 when a step failed; a rewrite that fails leaves the document byte for byte as it
// was (one cut off by the process's end between its two writes may leave the new tail after the old
// text), and a read-only document whose patch failed keeps its bit cleared. A document with more than one
// name is written only when every name lies inside `makerFolders` (locations as ReadFolderLocation gives
// them).
[[nodiscard]] int PatchDocument(HANDLE document, bool readOnly,
                                const std::vector<std::wstring>& makerFolders) noexcept;

// Walks the folder `top` leads to from a maker's folder, held open as `makerFolders` and lying at
// `locations`; `path` is its ordinary path. WalkFolderTree in folder_walk.h states the contract.
[[nodiscard]] int PatchFolderTree(std::wstring_view path, const Way& top,
                                  const std::vector<HANDLE>& makerFolders,
                                  const std::vector<std::wstring>& locations) noexcept;

// The same two, from paths, for tests and benchmarks: the maker's folders are opened by their
// locations, and `folder`, or the document's folder, must lie in one of them.
[[nodiscard]] int PatchFolderTree(const std::wstring& folder,
                                  const std::vector<std::wstring>& makerFolders) noexcept;
[[nodiscard]] int PatchDocument(const std::wstring& path,
                                const std::vector<std::wstring>& makerFolders) noexcept;
