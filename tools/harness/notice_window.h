// The completion notice as another process sees it: a message box (dialog class #32770) whose title is
// the notice caption. Shared by the on-screen tests and the demo's probe.
#pragma once

#include <windows.h>

#include <string>

namespace notice {

// The visible notice box owned by process `processId`, or by any process when it is 0; null when
// there is none.
[[nodiscard]] HWND FindNoticeBox(DWORD processId) noexcept;

// Waits up to `timeoutMs` for FindNoticeBox to find a box that shows a message; null on expiry.
[[nodiscard]] HWND WaitForNoticeBox(DWORD processId, DWORD timeoutMs) noexcept;

// The box's title and the text of its message control, read from the windows; empty when unreadable.
[[nodiscard]] std::wstring ReadTitle(HWND box);
[[nodiscard]] std::wstring ReadMessage(HWND box);

// Why no box could be seen and dismissed in this session, or empty when one can: under Wine there must
// be an X display; on Windows the process's window station must be the interactive one, which a
// service or a remote shell does not have.
[[nodiscard]] std::string FindWhyNoBoxCanShow();

// Presses the box's OK button and waits up to `timeoutMs` for the box to go. Returns whether it went.
[[nodiscard]] bool DismissNoticeBox(HWND box, DWORD timeoutMs) noexcept;

}  // namespace notice
