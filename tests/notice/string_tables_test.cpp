// The string tables of the built executable, read with the platform's own resource functions: one block
// 7 per language, 23 languages, each with 103, 105 and 109 filled and the rest empty.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "handles.h"
#include "machine.h"
#include "notice_texts.h"
#include "resource.h"
#include "resources.h"

namespace {

constexpr WORD kNoticeBlock = IDS_APP_CAPTION / 16 + 1;

// The sixteen entries of one block, or nothing when the bytes are not exactly sixteen counted entries.
std::optional<std::vector<std::wstring>> ParseBlock(const wchar_t* units, std::size_t size) {
    std::vector<std::wstring> entries;
    std::size_t at = 0;
    const std::size_t count = size / sizeof(wchar_t);
    while (entries.size() < 16) {
        if (at >= count) return std::nullopt;
        const std::size_t length = units[at++];
        if (length > count - at) return std::nullopt;
        entries.emplace_back(units + at, length);
        at += length;
    }
    if (at * sizeof(wchar_t) != size) return std::nullopt;
    return entries;
}

class StringTables : public testing::Test {
  protected:
    void SetUp() override {
        const std::wstring path = machine::GetExecutableUnderTest();
        ASSERT_FALSE(path.empty()) << "ORVET_EXE names the executable";
        module_ = LoadAsData(path);
        ASSERT_TRUE(module_) << Narrow(path) << ": error " << ::GetLastError();
    }

    std::vector<LANGID> Languages() const {
        return ListResourceLanguages(module_.get(), RT_STRING, MAKEINTRESOURCEW(kNoticeBlock));
    }

    UniqueModule module_;
};

TEST_F(StringTables, OnlyTheNoticeBlockExists) {
    const std::vector<std::wstring> blocks = ListResourceNames(module_.get(), RT_STRING);
    ASSERT_FALSE(blocks.empty()) << "no string table at all";
    EXPECT_EQ(blocks, std::vector<std::wstring>{ResourceLabel(MAKEINTRESOURCEW(kNoticeBlock))});
}

TEST_F(StringTables, ExactlyTheTwentyThreeLanguagesAndNoNeutralTable) {
    const std::vector<LANGID> found = Languages();
    const std::set<LANGID> unique(found.begin(), found.end());
    EXPECT_EQ(unique.size(), found.size()) << "a language has two tables";
    std::set<LANGID> expected;
    for (const notice::LanguageTable& table : notice::kLanguageTables) expected.insert(table.language);
    ASSERT_EQ(expected.size(), 23u);
    for (const LANGID language : unique) {
        EXPECT_NE(PRIMARYLANGID(language), LANG_NEUTRAL) << "neutral table 0x" << std::hex << language;
        EXPECT_EQ(expected.count(language), 1u) << "unexpected table 0x" << std::hex << language;
    }
    for (const LANGID language : expected) {
        EXPECT_EQ(unique.count(language), 1u) << "missing table 0x" << std::hex << language;
    }
}

TEST_F(StringTables, EachTableHoldsItsTextsAndNothingElse) {
    const std::wstring caption = Widen(notice::kCaption);
    const std::wstring name = Widen(notice::kAppName);
    for (const notice::LanguageTable& table : notice::kLanguageTables) {
        SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << table.language);
        const std::optional<std::vector<BYTE>> block =
            ReadResource(module_.get(), RT_STRING, MAKEINTRESOURCEW(kNoticeBlock), table.language);
        ASSERT_TRUE(block) << "error " << ::GetLastError();
        const std::optional<std::vector<std::wstring>> entries =
            ParseBlock(reinterpret_cast<const wchar_t*>(block->data()), block->size());
        ASSERT_TRUE(entries) << "not sixteen counted entries filling " << block->size() << " bytes";
        for (unsigned entry = 0; entry < 16; ++entry) {
            const unsigned id = (kNoticeBlock - 1u) * 16u + entry;
            const std::wstring& text = (*entries)[entry];
            if (id == IDS_APP_CAPTION) {
                EXPECT_EQ(text, caption) << "caption: " << Narrow(text);
            } else if (id == IDS_INSTALL_SUCCESS) {
                EXPECT_EQ(text, Widen(table.success)) << "message: " << Narrow(text);
            } else if (id == IDS_APP_NAME) {
                EXPECT_EQ(text, name) << "name: " << Narrow(text);
            } else {
                EXPECT_TRUE(text.empty()) << "entry " << id << " holds " << Narrow(text);
            }
        }
    }
}

}  // namespace
