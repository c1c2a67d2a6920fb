#include "notice_window.h"

#include "machine.h"
#include "notice_texts.h"

namespace notice {
namespace {

// The message box's static text control; the same identifier on Windows and in Wine.
constexpr int kMessageControlId = 0xFFFF;
constexpr DWORD kPollMs = 20;

std::wstring ReadWindowText(HWND window) {
    // For another process's window GetWindowTextW answers from the platform's copy of the text and
    // sends no message (GetWindowTextLengthW would), so a hung box can't hang the reader.
    wchar_t text[1024];
    const int copied = ::GetWindowTextW(window, text, ARRAYSIZE(text));
    return std::wstring(text, copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

}  // namespace

std::string FindWhyNoBoxCanShow() {
    if (machine::RunsUnderWine()) {
        wchar_t display[256];
        if (::GetEnvironmentVariableW(L"DISPLAY", display, ARRAYSIZE(display)) == 0)
            return "no X display: the message box needs one (run the suite under xvfb-run)";
        return {};
    }
    // Wine reports its one window station as interactive with a display or without.
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &needed) ||
        (flags.dwFlags & WSF_VISIBLE) == 0) {
        return "no interactive desktop (a service or a remote shell): run the kit from a desktop session";
    }
    return {};
}

HWND FindNoticeBox(DWORD processId) noexcept {
    try {
        const std::wstring caption = Widen(kCaption);
        for (HWND box = ::FindWindowExW(nullptr, nullptr, L"#32770", caption.c_str()); box != nullptr;
             box = ::FindWindowExW(nullptr, box, L"#32770", caption.c_str())) {
            DWORD owner = 0;
            ::GetWindowThreadProcessId(box, &owner);
            if ((processId == 0 || owner == processId) && ::IsWindowVisible(box)) return box;
        }
    } catch (...) {
    }
    return nullptr;
}

HWND WaitForNoticeBox(DWORD processId, DWORD timeoutMs) noexcept {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const HWND box = FindNoticeBox(processId);
        try {
            if (box != nullptr && !ReadMessage(box).empty()) return box;
        } catch (...) {
        }
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(kPollMs);
    }
}

std::wstring ReadTitle(HWND box) {
    return ReadWindowText(box);
}

std::wstring ReadMessage(HWND box) {
    const HWND message = ::GetDlgItem(box, kMessageControlId);
    return message == nullptr ? std::wstring{} : ReadWindowText(message);
}

bool DismissNoticeBox(HWND box, DWORD timeoutMs) noexcept {
    if (!::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0)) return false;
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (::IsWindow(box)) {
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(kPollMs);
    }
    return true;
}

}  // namespace notice
