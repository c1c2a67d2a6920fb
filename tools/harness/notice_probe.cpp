// For the demo: waits for the completion notice of a run started elsewhere and prints its message, or
// checks it, or dismisses it. Exit code 0 on success, 1 when no box came or it stayed, 2 for a wrong
// command line, 3 when the box is not what the language should show (the reason on standard error).
//   notice_probe wait SECONDS          prints the box's message as UTF-8 once the box is on screen
//   notice_probe check SECONDS LANGID  as wait, once title and message are those of LANGID (hex), which
//                                      must also be this process's UI language; then prints the box's
//                                      place on screen as WIDTHxHEIGHT+X+Y
//   notice_probe dismiss               presses OK and waits for the box to go
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "notice_texts.h"
#include "notice_window.h"

namespace {

constexpr DWORD kDismissTimeoutMs = 10'000;

// The console may be a pipe to a Unix program: write the UTF-8 bytes as they are.
bool WriteLine(DWORD stream, const std::string& text) {
    const std::string bytes = text + "\n";
    DWORD written = 0;
    return ::WriteFile(::GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

int Usage() {
    WriteLine(STD_ERROR_HANDLE, "usage: notice_probe wait SECONDS | check SECONDS LANGID | dismiss");
    return 2;
}

bool ParseNumber(const char* text, int base, unsigned long limit, unsigned long& number) {
    char* end = nullptr;
    number = std::strtoul(text, &end, base);
    return end != text && *end == '\0' && number <= limit;
}

// The box once it shows a message and has painted it, so that a photograph of the screen shows it whole.
HWND WaitForPaintedBox(unsigned long seconds) {
    const HWND box = notice::WaitForNoticeBox(0, static_cast<DWORD>(seconds * 1000));
    if (box == nullptr) return nullptr;
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(box, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    ::RedrawWindow(box, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    return box;
}

int Check(unsigned long seconds, LANGID language) {
    // The same LC_ALL started the run: a UI language other than the one asked for means the locale is
    // not the one the caller thinks, and the text comparison below would blame the tables.
    const LANGID own = ::GetUserDefaultUILanguage();
    char text[160];
    if (own != language) {
        std::snprintf(text, sizeof text, "the locale gives the UI language 0x%04X, not 0x%04X", own,
                      language);
        WriteLine(STD_ERROR_HANDLE, text);
        return 3;
    }
    const HWND box = WaitForPaintedBox(seconds);
    if (box == nullptr) {
        WriteLine(STD_ERROR_HANDLE, "no notice came within " + std::to_string(seconds) + " s");
        return 1;
    }
    const std::wstring message = notice::ReadMessage(box);
    const std::string mismatch = notice::DescribeNoticeMismatch(language, notice::ReadTitle(box), message);
    if (!mismatch.empty()) {
        WriteLine(STD_ERROR_HANDLE, mismatch);
        return 3;
    }
    RECT place{};
    if (!::GetWindowRect(box, &place)) return 1;
    std::snprintf(text, sizeof text, "%ldx%ld+%ld+%ld", place.right - place.left, place.bottom - place.top,
                  place.left, place.top);
    return WriteLine(STD_OUTPUT_HANDLE, Narrow(message)) && WriteLine(STD_OUTPUT_HANDLE, text) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long seconds = 0;
    if (argc >= 3 && !ParseNumber(argv[2], 10, 3600, seconds)) return Usage();
    if (argc == 3 && std::strcmp(argv[1], "wait") == 0) {
        const HWND box = WaitForPaintedBox(seconds);
        if (box == nullptr) return 1;
        return WriteLine(STD_OUTPUT_HANDLE, Narrow(notice::ReadMessage(box))) ? 0 : 1;
    }
    unsigned long language = 0;
    if (argc == 4 && std::strcmp(argv[1], "check") == 0 && ParseNumber(argv[3], 16, 0xFFFF, language)) {
        return Check(seconds, static_cast<LANGID>(language));
    }
    if (argc == 2 && std::strcmp(argv[1], "dismiss") == 0) {
        const HWND box = notice::FindNoticeBox(0);
        return box != nullptr && notice::DismissNoticeBox(box, kDismissTimeoutMs) ? 0 : 1;
    }
    return Usage();
}
