// The machine state that the update run reads and leaves behind, set up, read back and cleared through
// the Win32 API: the Windows version Wine reports to the executable, the product records in their
// registry views, the updater flag, the four manual folders and the stamp. Shared by the end-to-end
// tests and the whole-run benchmark, which both run in a Wine prefix of their own.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "files.h"

namespace machine {

inline constexpr wchar_t kExeName[] = L"Orvet Manual Contents Update.exe";
inline constexpr wchar_t kMakerKey[] = L"SOFTWARE\\Halvern Corporation";
inline constexpr wchar_t kManualRecord[] = L"SOFTWARE\\Halvern Corporation\\Shared Info\\AppDB\\Orvet Manual";
inline constexpr wchar_t kCareRecord[] = L"SOFTWARE\\Halvern Corporation\\Shared Info\\AppDB\\Orvet Care";
inline constexpr wchar_t kStampRecord[] =
    L"SOFTWARE\\Halvern Corporation\\Shared Info\\AppDB\\Orvet Manual Contents Update";
inline constexpr wchar_t kUpdaterKey[] = L"SOFTWARE\\Halvern Corporation\\Orvet Update";

// The registry view the executable reads and writes without a view flag, and the other one. The shipped
// 32-bit build reads the 32-bit view natively; the 64-bit build, which serves machines that can't run
// 32-bit programs, reads the 64-bit one.
#ifdef _WIN64
inline constexpr REGSAM kNativeView = KEY_WOW64_64KEY;
inline constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
inline constexpr REGSAM kNativeView = KEY_WOW64_32KEY;
inline constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif
inline constexpr REGSAM kView32 = KEY_WOW64_32KEY;
inline constexpr REGSAM kView64 = KEY_WOW64_64KEY;

// Whether this process runs under Wine rather than on Windows.
[[nodiscard]] bool RunsUnderWine() noexcept;

// Whether the platform reports a workstation to this process; false for a server, or when it can't say.
// The gate refuses every server, so what the run must do there follows from this.
[[nodiscard]] bool ReportsWorkstation() noexcept;

// Deletes HKLM `path` in `view` with everything below it; a key that is not there counts as deleted.
[[nodiscard]] LSTATUS DeleteKeyTree(const std::wstring& path, REGSAM view);

// Removes every trace of a previous scenario: the maker's keys in both views, the per-executable Windows
// version, and the four manual folders. Returns false when something could not be removed.
[[nodiscard]] bool ClearMachine();

// "win7", "win8", "win81", "win10": what Wine reports to the executable, whatever its manifest says up
// to the release it names. Windows reports only its own release, which for the gate is "win81" or
// "win10" on every machine the tests run on: those change nothing there and succeed, the others give
// ERROR_NOT_SUPPORTED.
[[nodiscard]] LSTATUS SetReportedWindows(const wchar_t* version);

// The machine as the maker's products leave it for the run to accept: `windows` reported to the
// executable (as SetReportedWindows takes it) and the Manual record at the accepted version, in the view
// the tool reads. False when either can't be written.
[[nodiscard]] bool MakeEligible(const wchar_t* windows = L"win81");

// The executable under test, from ORVET_EXE (a Unix path under Wine is taken as Wine sees it); empty
// when it is not set.
[[nodiscard]] std::wstring GetExecutableUnderTest();

// Creates the record `key` in `view`; with a version, also its "version" value as REG_SZ.
[[nodiscard]] LSTATUS WriteRecord(const wchar_t* key, REGSAM view,
                                  const std::optional<std::wstring>& version);

// Sets HKLM `key` in `view`, value `name`, to `data` of `type`, creating the key.
[[nodiscard]] LSTATUS WriteValue(const wchar_t* key, REGSAM view, const wchar_t* name, DWORD type,
                                 const void* data, DWORD size);

[[nodiscard]] LSTATUS SetLaunchInstaller(DWORD flag);

[[nodiscard]] bool KeyExists(const wchar_t* key, REGSAM view);

// Reads HKLM `key` in `view`, value `name`. On failure `type` and `data` are cleared.
[[nodiscard]] LSTATUS ReadValue(const wchar_t* key, REGSAM view, const wchar_t* name, DWORD& type,
                                std::vector<BYTE>& data);

// The maker's folders that hold the four target folders, C:\Documentation and the maker's folder under
// ProgramData, which ClearMachine removes once they are empty. Empty when the platform can't name them.
[[nodiscard]] std::vector<std::wstring> GetMakerFolders();

// The four target folders in the run's order: row 1 under the drive root of the Windows folder, rows 2
// to 4 under ProgramData. Empty when the platform can't name the base.
[[nodiscard]] std::wstring GetManualFolder(int row);

// Starts `exe` with `arguments` (the program name is put in front) and waits up to `timeoutMs`; a run
// that takes longer is terminated. Returns the exit code, or nothing when the start failed or the run
// timed out, and then `failure` says which. `poll`, when given, sees the running process every few
// milliseconds.
[[nodiscard]] std::optional<DWORD> RunToExit(const std::wstring& exe, const std::wstring& arguments,
                                             DWORD timeoutMs, std::wstring& failure,
                                             const std::function<void(HANDLE)>& poll = {});

}  // namespace machine
