// Patching of installed manual pages in place, inside the maker's folders only.
#pragma once

#include <string>
#include <vector>

// Where the folder at `folder` really lies, after every link, junction, mount point and redirection: the
// platform's final path of a handle to it ("\\?\C:\..."), the form in which the maker's folders are given
// below. Empty when it can't be opened or told.
[[nodiscard]] std::wstring ReadFolderLocation(const std::wstring& folder) noexcept;

// Patches one HTML document in place. Returns 1 when it was handled to the end (changed or not),
// 0 when a step failed; a failed rewrite leaves the document byte for byte as it was. A document that
// does not lie inside `makerFolders` (locations as ReadFolderLocation gives them) by every name it has,
// judged on the handle it would be written through, is left as it is and yields 0.
[[nodiscard]] int PatchDocument(const std::wstring& path,
                                const std::vector<std::wstring>& makerFolders) noexcept;

// Walks `folder` (no trailing backslash) and everything below it, links that stay inside `makerFolders`
// included, patches every page it reaches once, and returns what the walk yields: WalkFolderTree in
// folder_walk.h states the contract.
[[nodiscard]] int PatchFolderTree(const std::wstring& folder,
                                  const std::vector<std::wstring>& makerFolders) noexcept;
