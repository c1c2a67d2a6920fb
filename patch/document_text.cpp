#include "document_text.h"

#include <algorithm>
#include <cstddef>
#include <functional>

LeadByteTable MakeLeadByteTable(const unsigned char* ranges, std::size_t count) noexcept {
    LeadByteTable table{};
    for (std::size_t i = 0; i + 1 < count; i += 2) {
        const unsigned first = ranges[i];
        const unsigned last = ranges[i + 1];
        if (first == 0 && last == 0) break;
        for (unsigned b = first; b <= last && b < table.size(); ++b) table[b] = true;
    }
    return table;
}

namespace {

// Whether `pos` starts a character. Position p - k is known to start one when the byte before it is
// not a lead byte (that byte ends a character either way); from there the k lead-table bytes pair up.
bool IsCharacterStart(std::string_view text, std::size_t pos, const LeadByteTable& leadBytes) noexcept {
    std::size_t leadRun = 0;
    while (leadRun < pos && leadBytes[static_cast<unsigned char>(text[pos - leadRun - 1])]) ++leadRun;
    return leadRun % 2 == 0;
}

}  // namespace

std::size_t FindSequence(std::string_view text, std::string_view sequence,
                         const LeadByteTable& leadBytes) noexcept {
    // Candidates come from a plain byte search (Horspool: it skips ahead on these long sequences);
    // only those that fall on a trail byte are dropped.
    // Every fixed sequence begins with "<", never a lead byte, so the backward scans of successive
    // candidates never overlap and the whole search stays linear.
    if (sequence.empty()) return 0;
    const std::boyer_moore_horspool_searcher searcher(sequence.begin(), sequence.end());
    for (auto from = text.begin();;) {
        const auto match = std::search(from, text.end(), searcher);
        if (match == text.end()) return std::string_view::npos;
        const auto pos = static_cast<std::size_t>(match - text.begin());
        if (IsCharacterStart(text, pos, leadBytes)) return pos;
        from = match + 1;
    }
}

std::size_t InsertCompatibilityTag(std::string& text, const LeadByteTable& leadBytes) {
    if (FindSequence(text, kCompatibilityTag, leadBytes) != std::string_view::npos) return std::string::npos;
    std::size_t head = FindSequence(text, kHeadTagLower, leadBytes);
    if (head == std::string_view::npos) head = FindSequence(text, kHeadTagUpper, leadBytes);
    if (head == std::string_view::npos) return std::string::npos;
    const std::size_t at = head + kHeadTagLower.size();
    text.insert(at, kCompatibilityTag);
    return at;
}

void RemoveCompatibilityTag(std::string& text, std::size_t at) noexcept {
    // Iterators, not indexes: this erase has no precondition that could throw.
    if (at > text.size() || text.size() - at < kCompatibilityTag.size()) return;
    const auto from = text.begin() + static_cast<std::ptrdiff_t>(at);
    text.erase(from, from + static_cast<std::ptrdiff_t>(kCompatibilityTag.size()));
}

std::size_t ReplaceInternetZoneComment(std::string& text, const LeadByteTable& leadBytes) {
    const std::size_t comment = FindSequence(text, kInternetZoneComment, leadBytes);
    if (comment == std::string_view::npos) return std::string::npos;
    text.replace(comment, kInternetZoneComment.size(), kLocalMachineComment);
    return comment;
}

void RestoreInternetZoneComment(std::string& text, std::size_t at) noexcept {
    if (at > text.size() || text.size() - at < kLocalMachineComment.size()) return;
    // The old comment is the shorter one: it is copied over the new one's start, and the rest goes.
    const auto from = text.begin() + static_cast<std::ptrdiff_t>(at);
    std::copy(kInternetZoneComment.begin(), kInternetZoneComment.end(), from);
    text.erase(from + static_cast<std::ptrdiff_t>(kInternetZoneComment.size()),
               from + static_cast<std::ptrdiff_t>(kLocalMachineComment.size()));
}
