// For the demo: waits for the completion notice of a run started elsewhere and prints its message, or
// dismisses it. Exit code 0 on success, 1 when no box came or it stayed, 2 for a wrong command line.
//   notice_probe wait SECONDS   prints the box's message as UTF-8 once the box is on screen
//   notice_probe dismiss        presses OK and waits for the box to go
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "notice_texts.h"
#include "notice_window.h"

namespace {

constexpr DWORD kDismissTimeoutMs = 10'000;

int Usage() {
    const char text[] = "usage: notice_probe wait SECONDS | notice_probe dismiss\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, sizeof text - 1, &written, nullptr);
    return 2;
}

// The console may be a pipe to a Unix program: write the UTF-8 bytes as they are.
bool PrintUtf8Line(const std::wstring& text) {
    const std::string bytes = notice::Narrow(text) + "\n";
    DWORD written = 0;
    return ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
                       &written, nullptr) &&
           written == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "wait") == 0) {
        char* end = nullptr;
        const unsigned long seconds = std::strtoul(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0' || seconds > 3600) return Usage();
        const HWND box = notice::WaitForNoticeBox(0, static_cast<DWORD>(seconds * 1000));
        if (box == nullptr) return 1;
        // Let the box finish painting before anyone photographs the screen.
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(box, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
        ::RedrawWindow(box, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        return PrintUtf8Line(notice::ReadMessage(box)) ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "dismiss") == 0) {
        const HWND box = notice::FindNoticeBox(0);
        return box != nullptr && notice::DismissNoticeBox(box, kDismissTimeoutMs) ? 0 : 1;
    }
    return Usage();
}
