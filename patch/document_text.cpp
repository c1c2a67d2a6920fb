#include "document_text.h"

#include <algorithm>
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

bool InsertCompatibilityTag(std::string& text, const LeadByteTable& leadBytes) {
    if (FindSequence(text, kCompatibilityTag, leadBytes) != std::string_view::npos) return false;
    std::size_t head = FindSequence(text, kHeadTagLower, leadBytes);
    if (head == std::string_view::npos) head = FindSequence(text, kHeadTagUpper, leadBytes);
    if (head == std::string_view::npos) return false;
    text.insert(head + kHeadTagLower.size(), kCompatibilityTag);
    return true;
}

bool ReplaceInternetZoneComment(std::string& text, const LeadByteTable& leadBytes) {
    const std::size_t comment = FindSequence(text, kInternetZoneComment, leadBytes);
    if (comment == std::string_view::npos) return false;
    text.replace(comment, kInternetZoneComment.size(), kLocalMachineComment);
    return true;
}
