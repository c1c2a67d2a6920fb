// Where an open file or folder really lies, read from its handle: for the maker's folders, the top
// folders, links the platform followed, and every name of a document with hard links. Win32 only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "unique_handle.h"

// The "\\?\" form of a fully qualified path, which Windows takes literally: otherwise a trailing space or
// dot is dropped from a name, and "aux", "nul" or "con.a" open a device. A path that is not fully
// qualified has no literal form and is kept as it is.
[[nodiscard]] std::wstring GetLiteralPath(const std::wstring& path);

// What every open by path passes as its flags (held_files.cpp gives its opens the same): should a name
// lead to a named pipe, its server may only identify this elevated process, never act as it. A reopen
// through a handle resolves no name and needs none.
inline constexpr DWORD kNoImpersonation = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// The folder at `path`, opened by its literal form to be listed, link and all followed: for the known
// folders and the forms that take paths, whose paths nobody but an administrator chose.
[[nodiscard]] UniqueFileHandle OpenFolderByPath(const std::wstring& path);

// The platform's final path of `handle`: the object held, after every link, junction and mount point,
// with normalized long names and its drive ("\\?\C:\..."). False when it can't be told.
[[nodiscard]] bool ReadHandleLocation(HANDLE handle, std::wstring& location);

// Whether the file held by `file`, which has `links` names, lies within `folders` by every one of them:
// where the handle says it lies, and, for a file with hard links, by each other name too. False when its
// names can't be told.
[[nodiscard]] bool LiesInsideByEveryName(HANDLE file, DWORD links, const std::vector<std::wstring>& folders);
