// The steps of the update run that reach the platform, for the run itself and for its tests.
#pragma once

#include <windows.h>

#include <shtypes.h>

#include <string>

#include "run_decisions.h"

// Whether the application database shows an accepted manual version, or, when no manual version can be
// read at all, an accepted support product version.
[[nodiscard]] bool IsEligibleProductInstalled() noexcept;

// Reads the "version" value of the record `keyPath` under HKEY_LOCAL_MACHINE, opened with `access`.
// Returns whether a text was read; `version` is emptied first and holds the text only on success.
[[nodiscard]] bool ReadAppDbVersion(const wchar_t* keyPath, REGSAM access, std::wstring& version) noexcept;

// Writes this program's own stamp into the application database; every failure is silent.
void WriteVersionStamp() noexcept;

// Reads the updater flag. Absent, unreadable or longer than 4 bytes, it reads as 0.
[[nodiscard]] DWORD ReadUpdaterFlag() noexcept;

// Resolves a known folder. Returns the platform's status (S_OK on success); on success `path` holds the
// folder with one backslash appended, otherwise it is empty.
[[nodiscard]] HRESULT KnownFolderWithSlash(REFKNOWNFOLDERID id, std::wstring& path) noexcept;

// Looks up string `id` in this executable's string tables, the platform choosing the language. Returns
// whether a non-empty text was found; `text` then holds it, otherwise it is empty.
[[nodiscard]] bool LoadResourceString(UINT id, std::wstring& text) noexcept;
