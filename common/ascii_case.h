// Text comparison that folds the letters A to Z only, whatever the user's locale: file extensions and
// version texts are matched this way.
#pragma once

#include <cstddef>
#include <string_view>

[[nodiscard]] constexpr bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) noexcept {
    if (a.size() != b.size()) return false;
    const auto fold = [](wchar_t c) {
        return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}
