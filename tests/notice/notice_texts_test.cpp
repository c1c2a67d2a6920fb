// The check that the demo's language sheet makes of every box before photographing it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "notice_texts.h"

namespace {

TEST(DescribeNoticeMismatch, AcceptsOnlyTheLanguagesOwnTextOrAnyTextWithoutATable) {
    struct Case {
        const char* name;
        LANGID language;
        const char* title;
        const char* message;
        bool accepted;
    };
    const Case cases[] = {
        {"own text", 0x0411, notice::kCaption, u8"正常にインストールされました", true},
        {"Thai, combining marks and all", 0x041E, notice::kCaption, u8"ติดตั้งสำเร็จแล้ว", true},
        {"a text two tables share", 0x0422, notice::kCaption, u8"Установка прошла успешно.", true},
        {"another table's text", 0x0411, notice::kCaption, u8"Successfully installed.", false},
        {"the neighbouring Chinese", 0x0804, notice::kCaption, u8"已成功安裝。", false},
        {"a full stop missing", 0x0409, notice::kCaption, u8"Successfully installed", false},
        {"read before the text was set", 0x0409, notice::kCaption, "", false},
        {"another title", 0x0409, "Error", u8"Successfully installed.", false},
        {"no table: the fallback's text", 0x040B, notice::kCaption, u8"Successfully installed.", true},
        {"no table: any table's text", 0x040B, notice::kCaption, u8"Erfolgreich installiert.", true},
        {"no table: a text of its own", 0x040B, notice::kCaption, u8"Asennus onnistui.", false},
        {"no table: another title", 0x040B, "", u8"Successfully installed.", false},
    };
    for (const Case& c : cases) {
        const std::string mismatch =
            notice::DescribeNoticeMismatch(c.language, Widen(c.title), Widen(c.message));
        EXPECT_EQ(mismatch.empty(), c.accepted) << c.name << ": " << mismatch;
    }
}

}  // namespace
