#include "document_text.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bytes.h"
#include "fixed_texts.h"

using namespace std::string_literals;

namespace {

constexpr std::size_t kNone = std::string_view::npos;

LeadByteTable SingleByte() {
    return LeadByteTable{};
}
LeadByteTable Cp932() {
    return MakeLeadByteTable(kCp932Ranges, sizeof kCp932Ranges);
}

bool IsCp932Trail(unsigned b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

std::string Byte(unsigned b) {
    return std::string(1, static_cast<char>(b));
}

struct EditCase {
    const char* name;
    std::string text;
    std::string expected;  // equal to `text` when the edit must leave it alone
};

using Edit = std::size_t (*)(std::string&, const LeadByteTable&);
using Undo = void (*)(std::string&, std::size_t) noexcept;

// Each edit also undone at the index it reports: a failed rewrite derives the old text that way.
void ExpectEdits(Edit edit, const std::vector<EditCase>& cases, const LeadByteTable& leadBytes) {
    const Undo undo = edit == &InsertCompatibilityTag ? &RemoveCompatibilityTag : &RestoreInternetZoneComment;
    for (const EditCase& c : cases) {
        std::string text = c.text;
        const std::size_t at = edit(text, leadBytes);
        EXPECT_EQ(at != std::string::npos, c.expected != c.text) << c.name;
        EXPECT_EQ(text, c.expected) << c.name;
        if (at == std::string::npos) continue;
        undo(text, at);
        EXPECT_EQ(text, c.text) << c.name << ", undone";
    }
}

}  // namespace

// The product's texts are the ones spelled apart in the tests (their lengths the product states itself).
// The count in parentheses is the length of the URL that follows it.
TEST(DocumentTextTest, CommentCountsEqualTheirUrlLengths) {
    constexpr std::string_view kOpen = "<!-- saved from url=(";
    constexpr std::string_view kClose = " -->";
    for (std::string_view comment : {kInternetZoneComment, kLocalMachineComment}) {
        ASSERT_EQ(comment.substr(0, kOpen.size()), kOpen) << comment;
        ASSERT_EQ(comment.substr(comment.size() - kClose.size()), kClose) << comment;
        const std::string_view count = comment.substr(kOpen.size(), 4);
        ASSERT_EQ(comment[kOpen.size() + 4], ')') << comment;
        const std::size_t urlStart = kOpen.size() + 5;
        const std::size_t urlLength = comment.size() - kClose.size() - urlStart;
        EXPECT_EQ(std::stoul(std::string(count)), urlLength) << comment;
    }
}

TEST(DocumentTextTest, InsertCompatibilityTag) {
    const std::string document = "<html><head><title>t</title></head><body>x</body></html>";
    ExpectEdits(
        InsertCompatibilityTag,
        {
            {"empty text", "", ""},
            {"no head tag", "<html><body>x</body></html>", "<html><body>x</body></html>"},
            {"lower-case head", document,
             "<html><head>" + kTag + "<title>t</title></head><body>x</body></html>"},
            {"upper-case head only", "<HTML><HEAD></HEAD></HTML>", "<HTML><HEAD>" + kTag + "</HEAD></HTML>"},
            {"upper early, lower later", "<HEAD></HEAD><head></head>",
             "<HEAD></HEAD><head>" + kTag + "</head>"},
            {"two lower-case heads: the first", "<head>a<head>b", "<head>" + kTag + "a<head>b"},
            {"text ending with the head tag", "<html>\r\n<head>", "<html>\r\n<head>" + kTag},
            {"text is the head tag", "<head>", "<head>" + kTag},
            {"head tag cut short at the end", "<html><head", "<html><head"},
            {"tag before head", kTag + "<head></head>", kTag + "<head></head>"},
            {"tag after head", "<head></head><body>" + kTag, "<head></head><body>" + kTag},
            {"tag inside a comment", "<head><!-- " + kTag + " -->", "<head><!-- " + kTag + " -->"},
            {"tag with no head", kTag, kTag},
            {"mixed-case head", "<Head></Head>", "<Head></Head>"},
            {"head with attributes", R"(<head lang="en"></head>)", R"(<head lang="en"></head>)"},
            {"head with a space", "<head ></head>", "<head ></head>"},
            {"header element", "<header></header>", "<header></header>"},
            {"NUL bytes around the head", "\0\0<head>\0"s, "\0\0<head>"s + kTag + "\0"s},
            {"tag after a NUL byte", "\0"s + kTag + "<head>", "\0"s + kTag + "<head>"},
            {"NUL inside the head tag", "<he\0ad>"s, "<he\0ad>"s},
        },
        SingleByte());
}

// Only the exact 55 bytes count as the tag; every other spelling gets the tag beside it.
TEST(DocumentTextTest, OtherSpellingsOfTheCompatibilityElementGetTheTag) {
    const char* const spellings[] = {
        R"(<meta http-equiv="X-UA-Compatible" content="IE=11" />)",
        R"(<meta http-equiv="X-UA-Compatible" content="IE=edge">)",
        R"(<meta http-equiv="X-UA-Compatible" content="IE=edge"/>)",
        R"(<meta  http-equiv="X-UA-Compatible" content="IE=edge" />)",
        R"(<meta http-equiv='X-UA-Compatible' content='IE=edge' />)",
        R"(<meta http-equiv="x-ua-compatible" content="IE=edge" />)",
        R"(<META HTTP-EQUIV="X-UA-Compatible" CONTENT="IE=edge" />)",
        R"(<meta content="IE=edge" http-equiv="X-UA-Compatible" />)",
        R"(<meta http-equiv="X-UA-Compatible" content="IE=edge" / >)",
    };
    for (const char* spelling : spellings) {
        std::string text = "<head>"s + spelling + "</head>";
        EXPECT_EQ(InsertCompatibilityTag(text, SingleByte()), 6u) << spelling;
        EXPECT_EQ(text, "<head>" + kTag + spelling + "</head>") << spelling;
    }
}

TEST(DocumentTextTest, ReplaceInternetZoneComment) {
    ExpectEdits(ReplaceInternetZoneComment,
                {
                    {"empty text", "", ""},
                    {"no comment", "<html><head></head></html>", "<html><head></head></html>"},
                    {"comment first, no head", kZone + "\r\n<html></html>", kLocal + "\r\n<html></html>"},
                    {"comment at the end", "<html></html>" + kZone, "<html></html>" + kLocal},
                    {"two comments: only the first", kZone + "x" + kZone, kLocal + "x" + kZone},
                    {"local-machine comment already", kLocal + "<html></html>", kLocal + "<html></html>"},
                    {"local-machine, then Internet-zone", kLocal + kZone, kLocal + kLocal},
                    {"comment cut short", kZone.substr(0, 43), kZone.substr(0, 43)},
                    {"no space before the end", "<!-- saved from url=(0014)about:internet-->",
                     "<!-- saved from url=(0014)about:internet-->"},
                    {"upper-case comment", "<!-- SAVED FROM URL=(0014)ABOUT:INTERNET -->",
                     "<!-- SAVED FROM URL=(0014)ABOUT:INTERNET -->"},
                    {"comment after a NUL byte", "\0"s + kZone + "\0"s, "\0"s + kLocal + "\0"s},
                },
                SingleByte());
}

// Both edits in the patcher's order: the tag first, then the comment.
TEST(DocumentTextTest, BothEditsGrowTheTextAndShiftTheComment) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t growth;
        std::size_t commentAt;  // of the local-machine comment afterwards
    };
    const Case cases[] = {
        {"neither", "<html><body></body></html>", 0, kNone},
        {"head only", "<html><head></head></html>", 55, kNone},
        {"comment only", kZone + "\r\n<html></html>", 2, 0},
        {"comment before head", kZone + "\r\n<html><head></head></html>", 57, 0},
        {"comment after head", "<html><head>\r\n" + kZone + "</head></html>", 57, 14 + 55},
        {"tag and local comment already", "<head>" + kTag + kLocal, 0, 61},
        {"tag present, comment replaced", kTag + "<head>" + kZone, 2, 61},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        (void)InsertCompatibilityTag(text, SingleByte());
        (void)ReplaceInternetZoneComment(text, SingleByte());
        EXPECT_EQ(text.size(), c.text.size() + c.growth) << c.name;
        EXPECT_EQ(FindSequence(text, kLocalMachineComment, SingleByte()), c.commentAt) << c.name;
        EXPECT_EQ(FindSequence(text, kInternetZoneComment, SingleByte()), kNone) << c.name;
        if (c.growth >= 55) {
            EXPECT_NE(FindSequence(text, kCompatibilityTag, SingleByte()), kNone) << c.name;
        }
    }
}

TEST(DocumentTextTest, LessThanAfterALeadByteIsNoStart) {
    for (unsigned b = 0; b < 256; ++b) {
        const std::string text = Byte(b) + "<head>";
        EXPECT_EQ(FindSequence(text, kHeadTagLower, Cp932()), IsCp932Lead(b) ? kNone : 1u) << "byte " << b;
        EXPECT_EQ(FindSequence(text, kHeadTagLower, SingleByte()), 1u) << "byte " << b;
    }
}

TEST(DocumentTextTest, DoubleByteStepping) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t found;
    };
    const Case cases[] = {
        {"one lead byte before", "\x81<head>", kNone},
        {"two lead bytes pair up", "\x81\x81<head>", 2},
        {"three lead bytes", "\x81\x81\x81<head>", kNone},
        {"lead byte, ASCII trail",
         "\x81"
         "A<head>",
         2},
        {"trail byte that is a lead byte value", "\x88\x9F<head>", 2},
        {"ASCII, then lead byte", "A\x81<head>", kNone},
        {"later start found", "\x81<head><head>", 7},
        {"lone lead byte at the end", "<head>\x81", 0},
        {"half-width katakana is single-byte", "\xB1<head>", 1},
        {"0xA0 is single-byte", "\xA0<head>", 1},
        {"0xFD is single-byte", "\xFD<head>", 1},
        {"0x80 is single-byte", "\x80<head>", 1},
        {"Japanese text before", "\x93\xFA\x96\x7B\x8C\xEA<head>", 6},
        {"UTF-8 text ending in a lead byte", "\xE8\xAA\x9E<head>", kNone},
        {"UTF-8 text, then a space", "\xE8\xAA\x9E <head>", 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindSequence(c.text, kHeadTagLower, Cp932()), c.found) << c.name;
        EXPECT_EQ(FindSequence(c.text, kHeadTagLower, SingleByte()), c.text.find("<head>")) << c.name;
    }
}

TEST(DocumentTextTest, EditsUnderCodePage932) {
    ExpectEdits(InsertCompatibilityTag,
                {
                    {"head hidden by a lead byte", "\x81<head>", "\x81<head>"},
                    {"hidden lower, visible upper", "\x81<head><HEAD>", "\x81<head><HEAD>" + kTag},
                    {"hidden tag is no tag", "<head>\x81" + kTag, "<head>" + kTag + "\x81" + kTag},
                    {"Japanese title after head", "<head><title>\x93\xFA\x96\x7B</title>",
                     "<head>" + kTag + "<title>\x93\xFA\x96\x7B</title>"},
                },
                Cp932());
    ExpectEdits(ReplaceInternetZoneComment,
                {
                    {"comment hidden by a lead byte", "\xE0" + kZone, "\xE0" + kZone},
                    {"hidden first, visible second", "\xE0" + kZone + kZone, "\xE0" + kZone + kLocal},
                    {"comment after a double-byte char", "\x95\x5C" + kZone, "\x95\x5C" + kLocal},
                },
                Cp932());
}

// On valid code page 932 text no sequence starts at a trail byte, so the stepping finds what a plain
// byte search finds. Every byte value is put in each role it can hold in such text.
TEST(DocumentTextTest, ValidCp932TextMatchesAPlainByteSearch) {
    const std::string_view sequences[] = {kCompatibilityTag, kHeadTagLower, kHeadTagUpper,
                                          kInternetZoneComment, kLocalMachineComment};
    for (unsigned b = 0; b < 256; ++b) {
        std::vector<std::string> characters;
        if (IsCp932Lead(b)) {
            characters = {Byte(b) + "\x40", Byte(b) + "\xFC", Byte(b) + "\x5C"};
        } else {
            characters = {Byte(b)};
        }
        if (IsCp932Trail(b)) {
            characters.push_back("\x81" + Byte(b));
            characters.push_back("\xFC" + Byte(b));
        }
        for (const std::string& character : characters) {
            for (std::string_view sequence : sequences) {
                const std::string texts[] = {
                    character + std::string(sequence),
                    std::string(sequence) + character + std::string(sequence),
                    character + character + "<" + character + std::string(sequence) + character,
                };
                for (const std::string& text : texts) {
                    EXPECT_EQ(FindSequence(text, sequence, Cp932()), text.find(sequence))
                        << "byte " << b << ", character of " << character.size() << ", " << sequence;
                }
            }
        }
    }
}

TEST(DocumentTextTest, MakeLeadByteTable) {
    struct Case {
        const char* name;
        std::vector<unsigned char> ranges;
        std::size_t count;
        std::vector<std::pair<unsigned, unsigned>> expected;
    };
    const Case cases[] = {
        {"code page 932", {0x81, 0x9F, 0xE0, 0xFC, 0, 0, 0, 0, 0, 0, 0, 0}, 12, {{0x81, 0x9F}, {0xE0, 0xFC}}},
        {"code page 936", {0x81, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 12, {{0x81, 0xFE}}},
        {"single-byte code page", std::vector<unsigned char>(12, 0), 12, {}},
        {"zero pair ends the list", {0x81, 0x81, 0, 0, 0xE0, 0xE0, 0, 0}, 8, {{0x81, 0x81}}},
        {"count ends the list", {0x81, 0x9F, 0xE0, 0xFC}, 2, {{0x81, 0x9F}}},
        {"half a pair is ignored", {0x81, 0x9F, 0xE0, 0xFC}, 3, {{0x81, 0x9F}}},
        {"count of zero", {0x81, 0x9F}, 0, {}},
        {"six pairs, no terminator",
         {0x81, 0x81, 0x83, 0x83, 0x85, 0x85, 0x87, 0x87, 0x89, 0x89, 0x8B, 0x8B},
         12,
         {{0x81, 0x81}, {0x83, 0x83}, {0x85, 0x85}, {0x87, 0x87}, {0x89, 0x89}, {0x8B, 0x8B}}},
        {"range reaching 0xFF", {0xF0, 0xFF, 0, 0}, 4, {{0xF0, 0xFF}}},
        {"zero first byte with a last byte", {0x00, 0x01, 0, 0}, 4, {{0x00, 0x01}}},
    };
    for (const Case& c : cases) {
        const LeadByteTable table = MakeLeadByteTable(c.ranges.data(), c.count);
        for (unsigned b = 0; b < 256; ++b) {
            bool expected = false;
            for (const auto& [first, last] : c.expected) expected = expected || (b >= first && b <= last);
            EXPECT_EQ(table[b], expected) << c.name << ", byte " << b;
        }
    }
}
