// Checks the text edits against a model that walks the text one character at a time.
// Input: one selector byte, then the document text. Bit 0 of the selector picks code page 932's
// lead bytes over a single-byte code page; bits 1-3 give the length of a probe sequence, taken
// from the end of the text, that is searched besides the fixed ones.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bytes.h"
#include "document_text.h"

namespace {

constexpr std::size_t kNone = std::string_view::npos;

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

// The model knows code page 932's lead bytes by itself, so that it checks the table too.
bool IsLead(bool cp932, char c) {
    const unsigned b = static_cast<unsigned char>(c);
    return cp932 && IsCp932Lead(b);
}

// The obvious search: visit every character start in order, a lead byte taking the next byte with it.
std::size_t ModelFind(std::string_view text, std::string_view sequence, bool cp932) {
    for (std::size_t i = 0; i + sequence.size() <= text.size(); i += IsLead(cp932, text[i]) ? 2 : 1) {
        if (text.substr(i, sequence.size()) == sequence) return i;
    }
    return kNone;
}

std::size_t ModelCount(std::string_view text, std::string_view sequence, bool cp932) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + sequence.size() <= text.size(); i += IsLead(cp932, text[i]) ? 2 : 1) {
        if (text.substr(i, sequence.size()) == sequence) ++count;
    }
    return count;
}

// Whether every lead byte is followed by one of code page 932's trail bytes.
bool IsValidCp932(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!IsLead(true, text[i])) continue;
        if (++i == text.size()) return false;
        const unsigned trail = static_cast<unsigned char>(text[i]);
        if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return false;
    }
    return true;
}

std::string ModelInsert(const std::string& text, bool cp932) {
    if (ModelFind(text, kCompatibilityTag, cp932) != kNone) return text;
    std::size_t head = ModelFind(text, kHeadTagLower, cp932);
    if (head == kNone) head = ModelFind(text, kHeadTagUpper, cp932);
    if (head == kNone) return text;
    const std::size_t at = head + kHeadTagLower.size();
    return text.substr(0, at) + std::string(kCompatibilityTag) + text.substr(at);
}

std::string ModelReplace(const std::string& text, bool cp932) {
    const std::size_t comment = ModelFind(text, kInternetZoneComment, cp932);
    if (comment == kNone) return text;
    return text.substr(0, comment) + std::string(kLocalMachineComment) +
           text.substr(comment + kInternetZoneComment.size());
}

void CheckSearches(const std::string& text, std::string_view probe, const LeadByteTable& leadBytes,
                   bool cp932) {
    const std::string_view fixed[] = {kCompatibilityTag, kHeadTagLower, kHeadTagUpper, kInternetZoneComment,
                                      kLocalMachineComment};
    const bool valid = cp932 && IsValidCp932(text);
    for (std::string_view sequence : fixed) {
        const std::size_t found = FindSequence(text, sequence, leadBytes);
        Check(found == ModelFind(text, sequence, cp932), "FindSequence of a fixed sequence");
        // Every fixed sequence begins with "<", which is never a trail byte of valid text.
        if (valid || !cp932) Check(found == text.find(sequence), "FindSequence equals a plain byte search");
    }
    Check(FindSequence(text, probe, leadBytes) == ModelFind(text, probe, cp932), "FindSequence of the probe");
}

void CheckEdits(const std::string& text, const LeadByteTable& leadBytes, bool cp932) {
    std::string inserted = text;
    const std::size_t tagAt = InsertCompatibilityTag(inserted, leadBytes);
    const bool tagged = tagAt != kNone;
    Check(inserted == ModelInsert(text, cp932), "InsertCompatibilityTag result");
    Check(tagged == (inserted.size() == text.size() + 55),
          "InsertCompatibilityTag grows by 55 when it reports it");
    Check(tagged || inserted == text,
          "InsertCompatibilityTag leaves the text alone when it reports no change");

    std::string replaced = text;
    const std::size_t commentAt = ReplaceInternetZoneComment(replaced, leadBytes);
    const bool zoned = commentAt != kNone;
    Check(replaced == ModelReplace(text, cp932), "ReplaceInternetZoneComment result");
    Check(zoned == (replaced.size() == text.size() + 2),
          "ReplaceInternetZoneComment grows by 2 when it reports it");
    Check(zoned || replaced == text,
          "ReplaceInternetZoneComment leaves the text alone when it reports no change");

    // A failed rewrite undoes the edit at the index it reported: that gives back the text exactly.
    if (tagged) {
        std::string undone = inserted;
        RemoveCompatibilityTag(undone, tagAt);
        Check(undone == text, "RemoveCompatibilityTag undoes the insertion");
    }
    if (zoned) {
        std::string undone = replaced;
        RestoreInternetZoneComment(undone, commentAt);
        Check(undone == text, "RestoreInternetZoneComment undoes the replacement");
    }

    // The two edits are independent: either order gives the same text, and neither undoes the other.
    std::string both = inserted;
    Check((ReplaceInternetZoneComment(both, leadBytes) != kNone) == zoned,
          "the comment edit is unaffected by the tag");
    Check((InsertCompatibilityTag(replaced, leadBytes) != kNone) == tagged,
          "the tag edit is unaffected by the comment");
    Check(both == replaced, "both orders of the edits agree");
    Check(both.size() == text.size() + (tagged ? 55 : 0) + (zoned ? 2 : 0), "growth of both edits");
    if (tagged) Check(FindSequence(both, kCompatibilityTag, leadBytes) != kNone, "the inserted tag is found");

    // A second tag pass changes nothing.
    const std::string once = both;
    Check(InsertCompatibilityTag(both, leadBytes) == kNone,
          "a second InsertCompatibilityTag reports no change");
    Check(both == once, "a second InsertCompatibilityTag leaves the text alone");

    // Repeated comment passes replace every comment once, each by 2 bytes, and then stop.
    const std::size_t comments = ModelCount(text, kInternetZoneComment, cp932);
    std::string repeated = text;
    std::size_t replacements = 0;
    while (replacements <= comments) {
        const std::size_t before = repeated.size();
        if (ReplaceInternetZoneComment(repeated, leadBytes) == kNone) break;
        Check(repeated.size() == before + 2, "each comment pass grows by 2");
        ++replacements;
    }
    Check(replacements == comments, "one comment pass per Internet-zone comment");
    Check(FindSequence(repeated, kInternetZoneComment, leadBytes) == kNone,
          "no Internet-zone comment is left");
    Check(ModelCount(repeated, kLocalMachineComment, cp932) ==
              ModelCount(text, kLocalMachineComment, cp932) + comments,
          "every replaced comment names the local machine");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned selector = data[0];
    const bool cp932 = (selector & 1) != 0;
    const LeadByteTable leadBytes =
        cp932 ? MakeLeadByteTable(kCp932Ranges, sizeof kCp932Ranges) : LeadByteTable{};
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t probeLength = (selector >> 1) & 7;
    const std::string_view probe =
        std::string_view(text).substr(text.size() - (probeLength < text.size() ? probeLength : text.size()));

    CheckSearches(text, probe, leadBytes, cp932);
    CheckEdits(text, leadBytes, cp932);
    return 0;
}
