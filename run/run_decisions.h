// The run's decisions on plain values, apart from the platform calls that supply them: free of the
// platform, so that they build and are tested natively too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The product type the version query reports for a workstation (VER_NT_WORKSTATION).
inline constexpr std::uint8_t kWorkstationProductType = 1;

// The OS gate on what the version query reported.
[[nodiscard]] bool IsSupportedWindowsVersion(std::uint32_t major, std::uint32_t minor,
                                             std::uint8_t productType) noexcept;

// Whether a version text is the accepted one: compared whole, folding the letters A to Z only.
[[nodiscard]] bool IsAcceptedManualVersion(std::wstring_view version) noexcept;
[[nodiscard]] bool IsAcceptedCareVersion(std::wstring_view version) noexcept;

// Bytes of the buffer for a "version" value of `valueSize` bytes: room for one more UTF-16 unit than the
// value could hold. SIZE_MAX, which no allocation grants, when that does not fit in 32 bits.
[[nodiscard]] std::size_t GetVersionBufferSize(std::uint32_t valueSize) noexcept;

// The text of a "version" value's bytes: UTF-16LE units (an odd last byte is a unit of its own, high
// byte 0), up to the first NUL unit. The value's type does not matter.
[[nodiscard]] std::wstring DecodeVersionValue(const unsigned char* bytes, std::size_t size);

// The updater flag from a value's bytes: at most 4, little-endian, into the low-order bytes of 0.
// A longer value, which the 4-byte query can't take, reads as 0.
[[nodiscard]] std::uint32_t DecodeUpdaterFlag(const unsigned char* bytes, std::size_t size) noexcept;

// The drive root of the Windows folder's path with its backslash appended: everything up to and
// including the first backslash. Empty when the path holds none.
[[nodiscard]] std::wstring_view GetDriveRoot(std::wstring_view windowsFolderWithSlash) noexcept;

// Whether `place`, where the platform says a folder of the maker's really lies, is where its path says:
// `known`, where the known folder it was built on lies (a drive root ends in its backslash), then one
// backslash and `tail`, the part the run appends, its letters A to Z in any case. Anything else means a
// link on the way.
[[nodiscard]] bool LiesAt(std::wstring_view place, std::wstring_view known, std::wstring_view tail) noexcept;

// Entry `entry` (0 to 15) of a string table block of `size` bytes: a run of counts, each followed by
// that many units (UTF-16 on Windows, where wchar_t is 16 bits). Empty when the entry is empty or does
// not lie wholly within the block.
[[nodiscard]] std::wstring_view FindStringTableEntry(const wchar_t* block, std::size_t size,
                                                     unsigned entry) noexcept;
