// Byte-level test data that builds in both toolchains: raw values, and code page 932's lead bytes.
#pragma once

#include <vector>

using Bytes = std::vector<unsigned char>;

// The lead-byte ranges the platform reports for code page 932, in the 12-byte CPINFO.LeadByte layout.
inline constexpr unsigned char kCp932Ranges[12] = {0x81, 0x9F, 0xE0, 0xFC};

// The same ranges known by value, so that a test of a table built from them checks the table too.
[[nodiscard]] constexpr bool IsCp932Lead(unsigned b) noexcept {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
