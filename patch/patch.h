// Patching of installed manual pages in place.
#pragma once

#include <string>

// Patches one HTML document in place. Returns 1 when it was handled to the end (changed or not),
// 0 when a step failed; a failed rewrite leaves the document byte for byte as it was.
[[nodiscard]] int PatchDocument(const std::wstring& path) noexcept;

// Walks `folder` (no trailing backslash) and everything below it, links included, and patches every
// ".htm"/".html" page that some path reaches within Windows' path limit, once. Returns what a depth-first
// walk of every path yields: the result of the last entry handled in listing order, 0 when there was
// none; a directory met again on its own path (a cycle) yields 0. WalkFolderTree holds the rules.
[[nodiscard]] int PatchFolderTree(const std::wstring& folder) noexcept;
