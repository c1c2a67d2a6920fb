// Patching of installed manual pages in place.
#pragma once

#include <string>

// Patches one HTML document in place. Returns 1 when it was handled to the end (changed or not),
// 0 when a step failed; a failed rewrite leaves the document byte for byte as it was.
[[nodiscard]] int PatchDocument(const std::wstring& path) noexcept;

// Walks `folder` (no trailing backslash) depth first and patches every ".htm"/".html" file.
// Returns the result of the last entry handled in listing order, 0 when there was none. A directory
// reached again through links yields 0 inside its own walk (a cycle), and elsewhere the result of an
// earlier walk of it wherever the path limit decides alike for both paths. An entry that memory runs
// out for yields 0, and the walk goes on.
[[nodiscard]] int PatchFolderTree(const std::wstring& folder) noexcept;
