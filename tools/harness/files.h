// Whole-file and whole-tree helpers, through the Win32 API, for the tests and the benchmark that set up
// real files.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "unique_handle.h"

// Writes `bytes` as the whole file, creating the folders above it. True when all of it was written.
[[nodiscard]] bool WriteFileBytes(const std::wstring& path, std::string_view bytes);

// The whole file, or nothing when it can't be read.
[[nodiscard]] std::optional<std::string> ReadFileBytes(const std::wstring& path);

// The attribute word without the archive bit. NTFS sets that bit whenever a file's data changes (and
// Wine reports it on every file), so where a test changed a document only the other bits are the
// patcher's to keep.
[[nodiscard]] constexpr DWORD WithoutArchiveBit(DWORD attributes) noexcept {
    return attributes & ~DWORD{FILE_ATTRIBUTE_ARCHIVE};
}

// Deletes a folder with everything below it, read-only entries included; a link is removed, never
// followed. True when it is gone.
[[nodiscard]] bool DeleteTree(const std::wstring& path);

// Opens `path` for reading with no sharing, as another program that holds a document open does: nobody else
// reads or writes it until the handle goes. An empty handle when it can't be opened.
[[nodiscard]] UniqueFileHandle HoldOpen(const std::wstring& path);

// The entries of `folder` ("." and ".." left out) in listing order, links as they are listed, not followed;
// empty when it can't be listed.
[[nodiscard]] std::vector<WIN32_FIND_DATAW> ListFolder(const std::wstring& folder);

// A fresh folder of its own under `parent` (which ends in a backslash), named `stem` and a unique
// suffix; empty when none can be made.
[[nodiscard]] std::wstring MakeUniqueFolder(const std::wstring& parent, std::wstring_view stem);

// The environment variable `name`, or empty when it is not set (or longer than a path may be).
[[nodiscard]] std::wstring GetEnvironmentText(const wchar_t* name);

// A Unix path (from CTest or a script) as Wine sees it: "/a/b" becomes "Z:\a\b"; others are kept.
[[nodiscard]] std::wstring ToWindowsPath(std::wstring path);

// The same under the temporary folder.
[[nodiscard]] std::wstring MakeScratchFolder(std::wstring_view stem);

// Directory links of the platform's own two kinds, for the tests that make their links themselves on
// Windows. Wine 8 makes neither: it has no junctions (the request fails with ERROR_NOT_SUPPORTED), and
// CreateSymbolicLinkW returns TRUE and makes nothing; links under Wine come from the Unix side. Both were
// written from the platform's documentation alone: files.cpp checks the junction's buffer against the
// documented REPARSE_DATA_BUFFER layout, and tests/tools/link_makers_test.cpp checks on Windows that each
// link lists as a directory link of its kind, leads to its target and goes again without it.

// Makes `link`, a new folder, a junction (mount point) to the folder `target`, a fully qualified path
// ("C:\..." or "\\?\C:\...", or an NT path such as "\RPC Control"). Any user who may write the folder
// that holds `link` may. True when made;
// otherwise no folder is left at `link` and GetLastError says why.
[[nodiscard]] bool MakeJunction(const std::wstring& link, const std::wstring& target);

// Turns the empty folder `folder` into a junction to `target`, as anyone who may write its data or
// attributes may. True when done; otherwise GetLastError says why.
[[nodiscard]] bool TurnIntoJunction(const std::wstring& folder, const std::wstring& target);

// Makes `link` a directory symbolic link to `target`, fully qualified or relative to the folder that holds
// `link`. Needs an administrator (or developer mode). True only when the link is there afterwards; a
// platform that reports success and makes nothing gives false with ERROR_NOT_SUPPORTED.
[[nodiscard]] bool MakeDirectorySymbolicLink(const std::wstring& link, const std::wstring& target);
