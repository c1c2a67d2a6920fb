// The text edits of a manual document: platform-neutral, no I/O.
// A document text is the document's bytes as they are on disk; nothing is converted.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// Which byte values open a double-byte character in the ANSI code page; all false for a single-byte one.
using LeadByteTable = std::array<bool, 256>;

inline constexpr std::string_view kCompatibilityTag =
    R"(<meta http-equiv="X-UA-Compatible" content="IE=edge" />)";
inline constexpr std::string_view kHeadTagLower = "<head>";
inline constexpr std::string_view kHeadTagUpper = "<HEAD>";
inline constexpr std::string_view kInternetZoneComment = "<!-- saved from url=(0014)about:internet -->";
inline constexpr std::string_view kLocalMachineComment = "<!-- saved from url=(0016)http://localhost -->";
static_assert(kCompatibilityTag.size() == 55 && kHeadTagLower.size() == 6 && kHeadTagUpper.size() == 6 &&
              kInternetZoneComment.size() == 44 && kLocalMachineComment.size() == 46);

// Builds the table from code-page lead-byte ranges: pairs of first and last byte, ended by a 0 pair
// or by `count`, as the platform's code-page information lists them.
[[nodiscard]] LeadByteTable MakeLeadByteTable(const unsigned char* ranges, std::size_t count) noexcept;

// Index of the first occurrence of `sequence` that starts on a character boundary, stepping over the
// second byte of every double-byte character; std::string_view::npos when there is none.
[[nodiscard]] std::size_t FindSequence(std::string_view text, std::string_view sequence,
                                       const LeadByteTable& leadBytes) noexcept;

// Puts the compatibility tag right after the first "<head>" (or, when there is none, the first
// "<HEAD>") unless the text holds the tag already. Returns the index the tag went to, npos when the
// text is unchanged. Within the text's capacity nothing is allocated.
std::size_t InsertCompatibilityTag(std::string& text, const LeadByteTable& leadBytes);

// Takes out again the tag that InsertCompatibilityTag put at `at`: the text is as it was before.
void RemoveCompatibilityTag(std::string& text, std::size_t at) noexcept;

// Replaces the first Internet-zone comment with the local-machine one. Returns the comment's index,
// npos when the text is unchanged. Within the text's capacity nothing is allocated.
std::size_t ReplaceInternetZoneComment(std::string& text, const LeadByteTable& leadBytes);

// Puts back the Internet-zone comment where ReplaceInternetZoneComment put the local-machine one at
// `at`: the text is as it was before.
void RestoreInternetZoneComment(std::string& text, std::size_t at) noexcept;
