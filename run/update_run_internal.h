// The steps of the update run and the decisions they make, for the run itself and for its tests.
#pragma once

#include <windows.h>

#include <shtypes.h>

#include <cstddef>
#include <string>
#include <string_view>

// Whether the platform reports a Windows 6.3 (or later minor) workstation to this executable.
[[nodiscard]] bool IsSupportedWindows() noexcept;

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

// Asks the platform to refuse directory links that non-administrators created. Returns whether the
// platform took the request; where it has no such policy or refuses it, nothing changes.
bool RequestRedirectionTrust() noexcept;

// The run's exception boundary. The run builds a few short paths and texts, and memory running out for
// one (std::bad_alloc is the only exception anything in the run throws) must not end the run: the step
// concerned yields `failed`, as its own failure would, and the run goes on with its next step.
template <typename Result, typename Step>
[[nodiscard]] Result RunStep(Result failed, Step step) noexcept {
    try {
        return step();
    } catch (...) {
        return failed;
    }
}

// Pure decisions, kept apart from the platform calls so that tests reach every case.

// The OS gate on what the version query reported.
[[nodiscard]] bool IsSupportedWindowsVersion(const OSVERSIONINFOEXW& info) noexcept;

// Whether a version text is the accepted one: compared whole, folding the letters A to Z only.
[[nodiscard]] bool IsAcceptedManualVersion(std::wstring_view version) noexcept;
[[nodiscard]] bool IsAcceptedCareVersion(std::wstring_view version) noexcept;

// Bytes of the buffer for a "version" value of `valueSize` bytes: room for one more UTF-16 unit than the
// value could hold. SIZE_MAX, which no allocation grants, when that does not fit in 32 bits.
[[nodiscard]] std::size_t GetVersionBufferSize(DWORD valueSize) noexcept;

// The text of a "version" value's bytes: UTF-16LE units (an odd last byte is a unit of its own, high
// byte 0), up to the first NUL unit. The value's type does not matter.
[[nodiscard]] std::wstring DecodeVersionValue(const BYTE* bytes, std::size_t size);

// The updater flag from a value's bytes: at most 4, little-endian, into the low-order bytes of 0.
// A longer value, which the 4-byte query can't take, reads as 0.
[[nodiscard]] DWORD DecodeUpdaterFlag(const BYTE* bytes, std::size_t size) noexcept;

// The drive root of the Windows folder's path with its backslash appended: everything up to and
// including the first backslash. Empty when the path holds none.
[[nodiscard]] std::wstring_view GetDriveRoot(std::wstring_view windowsFolderWithSlash) noexcept;

// Entry `entry` (0 to 15) of a string table block of `size` bytes: a run of 16-bit counts, each followed
// by that many UTF-16 units. Empty when the entry is empty or does not lie wholly within the block.
[[nodiscard]] std::wstring_view FindStringTableEntry(const wchar_t* block, std::size_t size,
                                                     unsigned entry) noexcept;
