// The run's pure decisions, on the cases the platform here can't produce or that are tedious to set up.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "ascii_case.h"
#include "bytes.h"
#include "run_decisions.h"

namespace {

TEST(RunDecisionsTest, VersionTextsCompareWholeFoldingOnlyAToZ) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    };
    const Case cases[] = {{L"3.0.0.08100", L"3.0.0.08100", true},
                          {L"3.0.0.0810", L"3.0.0.08100", false},
                          {L"3.0.0.08100 ", L"3.0.0.08100", false},
                          {L" 3.0.0.08100", L"3.0.0.08100", false},
                          {L"", L"3.0.0.08100", false},
                          {L"", L"", true},
                          {L"ABCXYZ.0", L"abcxyz.0", true},
                          {L"@[", L"`{", false},
                          {L"\u00C4", L"\u00E4", false},
                          {L"\uFF21", L"\uFF41", false},
                          {L"\u0130", L"i", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.same) << "'" << c.a << "' vs '" << c.b << "'";
        EXPECT_EQ(EqualsIgnoringAsciiCase(c.b, c.a), c.same) << "'" << c.b << "' vs '" << c.a << "'";
    }
    EXPECT_TRUE(IsAcceptedManualVersion(L"3.0.0.08100"));
    EXPECT_FALSE(IsAcceptedManualVersion(L"8.2.0.15030"));
    EXPECT_TRUE(IsAcceptedCareVersion(L"8.2.0.15030"));
    EXPECT_TRUE(IsAcceptedCareVersion(L"8.3.0.08220"));
    EXPECT_FALSE(IsAcceptedCareVersion(L"3.0.0.08100"));
}

TEST(RunDecisionsTest, OsGateWantsAWorkstationReporting6Point3OrLater) {
    struct Case {
        std::uint32_t major;
        std::uint32_t minor;
        std::uint8_t productType;
        bool supported;
    };
    // The platform's product types: 1 workstation, 2 domain controller, 3 server.
    const Case cases[] = {{6, 3, 1, true},  {6, 4, 1, true},  {6, 3, 3, false},
                          {6, 3, 2, false}, {6, 3, 0, false}, {6, 2, 1, false},
                          {5, 3, 1, false}, {7, 3, 1, false}, {10, 0, 1, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(IsSupportedWindowsVersion(c.major, c.minor, c.productType), c.supported)
            << c.major << "." << c.minor << " product type " << int{c.productType};
    }
}

TEST(RunDecisionsTest, RegistryBytesDecodeIntoBuffersThatFit) {
    const std::pair<Bytes, std::wstring> versions[] = {{{'3', 0, '.', 0, '0', 0, 0, 0}, L"3.0"},
                                                       {{'3', 0, '.', 0}, L"3."},
                                                       {{'3', 0, '8'}, L"38"},
                                                       {{'3', 0, 0}, L"3"},
                                                       {{'3', 0, 0, 0, '9', 0}, L"3"},
                                                       {{0, 0, '9', 0}, L""},
                                                       {{}, L""},
                                                       {{0x30, 0x04, 0x00, 0xD8}, L"\u0430\xD800"}};
    for (const auto& [bytes, text] : versions) {
        EXPECT_EQ(DecodeVersionValue(bytes.data(), bytes.size()), text) << bytes.size() << " bytes";
    }
    const std::pair<Bytes, std::uint32_t> flags[] = {{{}, 0},
                                                     {{0x01}, 1},
                                                     {{0x01, 0x01}, 0x101},
                                                     {{0x78, 0x56, 0x34, 0x12}, 0x12345678},
                                                     {{0x31, 0x00}, 0x31},
                                                     {{1, 0, 0, 0, 0}, 0},
                                                     {{1, 0, 0, 0, 0, 0, 0, 0}, 0}};
    for (const auto& [bytes, flag] : flags) {
        EXPECT_EQ(DecodeUpdaterFlag(bytes.data(), bytes.size()), flag) << bytes.size() << " bytes";
    }
    // The buffer for a value: one unit more than the value, or a size no allocation grants past 32 bits.
    constexpr std::size_t kRefused = std::numeric_limits<std::size_t>::max();
    const std::pair<std::uint32_t, std::size_t> rooms[] = {
        {0, 2}, {1, 4}, {0x7FFFFFFE, 0xFFFFFFFE}, {0x7FFFFFFF, kRefused}, {0xFFFFFFFF, kRefused}};
    for (const auto& [valueSize, room] : rooms) {
        EXPECT_EQ(GetVersionBufferSize(valueSize), room) << valueSize << " bytes";
    }
}

TEST(RunDecisionsTest, DriveRootIsEverythingUpToTheFirstBackslash) {
    EXPECT_EQ(GetDriveRoot(L"C:\\Windows\\"), L"C:\\");
    EXPECT_EQ(GetDriveRoot(L"D:\\OS\\Windows\\"), L"D:\\");
    // A Windows folder without a backslash of its own ("X:"): the appended one ends the root.
    EXPECT_EQ(GetDriveRoot(L"X:\\"), L"X:\\");
    EXPECT_EQ(GetDriveRoot(L"X:"), L"");
}

// Where a maker's folder lies against where its known folder lies: any link on the appended part moves it.
TEST(RunDecisionsTest, AMakersFolderIsWhereItsPathSaysOrNowhere) {
    const wchar_t* const kData = LR"(\\?\C:\ProgramData)";
    const wchar_t* const kMaker = L"Halvern Corporation";
    const wchar_t* const kGuide = LR"(Documentation\Orvet User Guide)";
    const struct {
        const char* name;
        const wchar_t* place;
        const wchar_t* known;
        const wchar_t* tail;
        bool at;
    } cases[] = {
        {"ProgramData", LR"(\\?\C:\ProgramData\Halvern Corporation)", kData, kMaker, true},
        {"other case", LR"(\\?\C:\ProgramData\HALVERN corporation)", kData, kMaker, true},
        {"drive root", LR"(\\?\C:\Documentation\Orvet User Guide)", LR"(\\?\C:\)", kGuide, true},
        {"redirected known folder", LR"(\\?\D:\Data\Halvern Corporation)", LR"(\\?\D:\Data)", kMaker, true},
        // A link on the way: elsewhere, or the same names below another folder.
        {"elsewhere", LR"(\\?\C:\Users\x\Orvet User Guide)", LR"(\\?\C:\)", kGuide, false},
        {"below another folder", LR"(\\?\C:\x\Documentation\Orvet User Guide)", LR"(\\?\C:\)", kGuide, false},
        {"another drive", LR"(\\?\D:\ProgramData\Halvern Corporation)", kData, kMaker, false},
        {"longer known folder", LR"(\\?\C:\ProgramDataX\Halvern Corporation)", kData, kMaker, false},
        {"longer tail", LR"(\\?\C:\ProgramData\Halvern Corporation2)", kData, kMaker, false},
        {"shorter tail", LR"(\\?\C:\ProgramData\Halvern)", kData, kMaker, false},
        {"no place read", L"", kData, kMaker, false},
        {"no known folder read", LR"(\Halvern Corporation)", L"", kMaker, false},
    };
    for (const auto& c : cases) EXPECT_EQ(LiesAt(c.place, c.known, c.tail), c.at) << c.name;
}

TEST(RunDecisionsTest, StringTableBlockWalkStaysInsideTheBlock) {
    // Block 7 as the resource compiler lays it out: entries 7 and 9 filled, the other 14 empty.
    std::vector<wchar_t> block(7, 0);
    for (const std::wstring text : {L"Caption", L"", L"Message", L"", L"", L"", L"", L"", L""}) {
        block.push_back(static_cast<wchar_t>(text.size()));
        block.insert(block.end(), text.begin(), text.end());
    }
    const std::size_t full = block.size() * sizeof(wchar_t);
    const std::size_t throughCaption = (7 + 1 + 7) * sizeof(wchar_t);
    struct Case {
        const char* name;
        std::size_t size;
        unsigned entry;
        const wchar_t* text;
    };
    const Case cases[] = {{"filled", full, 7, L"Caption"},
                          {"later", full, 9, L"Message"},
                          {"empty", full, 8, L""},
                          {"first", full, 0, L""},
                          {"last", full, 15, L""},
                          {"beyond 16", full, 16, L""},
                          {"block ends with the entry", throughCaption, 7, L"Caption"},
                          {"entry cut short", throughCaption - sizeof(wchar_t), 7, L""},
                          {"entry cut by half a unit", throughCaption - 1, 7, L""},
                          {"entry past the end", throughCaption, 9, L""},
                          {"no bytes", 0, 0, L""}};
    for (const Case& c : cases) {
        EXPECT_EQ(FindStringTableEntry(block.data(), c.size, c.entry), c.text) << c.name;
    }
    // A count far past the end must not carry the walk out of the block.
    const wchar_t broken[] = {0xFFFF, L'a', 0, 1, L'b'};
    EXPECT_EQ(FindStringTableEntry(broken, sizeof broken, 2), L"");
}

}  // namespace
