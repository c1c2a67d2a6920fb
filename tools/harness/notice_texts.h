// What the executable's string tables must hold: the same caption and name in every language, and the
// "Successfully installed." text of each of the 23 language tables.
#pragma once

#include <windows.h>

#include <string>

#include "text.h"

namespace notice {

inline constexpr char kCaption[] = u8"Orvet Manual Contents Update";
inline constexpr char kAppName[] = u8"Orvet Manual Contents Update";

struct LanguageTable {
    LANGID language;
    const char* success;  // UTF-8
};

inline constexpr LanguageTable kLanguageTables[] = {
    {0x0402, u8"Успешно инсталиране."},            // Bulgarian
    {0x0404, u8"已成功安裝。"},                    // Chinese (Traditional, Taiwan)
    {0x0405, u8"Úspěšně nainstalován."},           // Czech
    {0x0407, u8"Erfolgreich installiert."},        // German (Germany)
    {0x0408, u8"Η εγκατάσταση ήταν επιτυχής."},    // Greek
    {0x0409, u8"Successfully installed."},         // English (United States)
    {0x040C, u8"Installé avec succès."},           // French (France)
    {0x040E, u8"Sikeresen telepítve."},            // Hungarian
    {0x0410, u8"installato correttamente."},       // Italian (Italy)
    {0x0411, u8"正常にインストールされました"},    // Japanese
    {0x0412, u8"성공적으로 설치되었습니다."},      // Korean
    {0x0413, u8"Installeren gelukt."},             // Dutch (Netherlands)
    {0x0415, u8"Zainstalowano pomyślnie."},        // Polish
    {0x0416, u8"A instalação foi bem-sucedida."},  // Portuguese (Brazil)
    {0x0418, u8"Instalat."},                       // Romanian
    {0x0419, u8"Установка прошла успешно."},       // Russian
    {0x041B, u8"Inštalácia bola úspešná."},        // Slovak
    {0x041E, u8"ติดตั้งสำเร็จแล้ว"},                    // Thai
    {0x041F, u8"Başarıyla yüklendi."},             // Turkish
    {0x0422, u8"Установка прошла успешно."},       // Ukrainian
    {0x0804, u8"安装成功。"},                      // Chinese (Simplified, PRC)
    {0x0C04, u8"已成功安裝。"},                    // Chinese (Traditional, Hong Kong SAR)
    {0x0C0A, u8"Instalado correctamente."},        // Spanish (Spain)
};

// The table of `language`; null when the executable has none for it.
inline const LanguageTable* FindTable(LANGID language) noexcept {
    for (const LanguageTable& table : kLanguageTables) {
        if (table.language == language) return &table;
    }
    return nullptr;
}

// What is wrong with a notice read from the screen of a user whose UI language is `language`; empty when
// nothing is. The title must be the caption and the message the text of that language's table; for a
// language without a table the resource loader falls back to another one, so any table's text will do.
inline std::string DescribeNoticeMismatch(LANGID language, const std::wstring& title,
                                          const std::wstring& message) {
    if (title != Widen(kCaption)) return "the title is \"" + Narrow(title) + "\", not the caption";
    if (const LanguageTable* own = FindTable(language)) {
        if (message == Widen(own->success)) return {};
        return "the message is \"" + Narrow(message) + "\", not \"" + own->success + "\"";
    }
    for (const LanguageTable& table : kLanguageTables) {
        if (message == Widen(table.success)) return {};
    }
    return "the message \"" + Narrow(message) + "\" is the text of no table";
}

}  // namespace notice
