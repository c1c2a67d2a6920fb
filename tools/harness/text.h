// UTF-8 and UTF-16 for the tests: texts written in the source as UTF-8, and wide texts in failure messages.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// The UTF-8 text as UTF-16; empty when it is not valid UTF-8.
inline std::wstring Widen(const char* utf8) {
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, text.data(), length);
    text.pop_back();
    return text;
}

// For failure messages: the UTF-16 text as UTF-8.
inline std::string Narrow(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (size <= 0) return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}
