// Whole-file and whole-tree helpers, through the Win32 API, for the tests and the benchmark that set up
// real files.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

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

// A fresh folder of its own under `parent` (which ends in a backslash), named `stem` and a unique
// suffix; empty when none can be made.
[[nodiscard]] std::wstring MakeUniqueFolder(const std::wstring& parent, std::wstring_view stem);

// A Unix path (from CTest or a script) as Wine sees it: "/a/b" becomes "Z:\a\b"; others are kept.
[[nodiscard]] std::wstring ToWindowsPath(std::wstring path);

// The same under the temporary folder.
[[nodiscard]] std::wstring MakeScratchFolder(std::wstring_view stem);
