#include "machine.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "handles.h"

namespace machine {
namespace {

constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\Orvet Manual Contents Update.exe";

std::wstring GetKnownFolder(REFKNOWNFOLDERID id) {
    wchar_t* raw = nullptr;
    const HRESULT status = ::SHGetKnownFolderPath(id, 0, nullptr, &raw);
    const UniqueCoTaskMemText owned(raw);
    if (FAILED(status) || raw == nullptr) return {};
    return raw;
}

std::wstring GetParentFolder(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring{} : path.substr(0, slash);
}

}  // namespace

bool RunsUnderWine() noexcept {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool ReportsWorkstation() noexcept {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    // A manifest decides which version the platform reports, never the product type.
    return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) &&
           info.wProductType == VER_NT_WORKSTATION;
}

// Every open names its view, also for the subkeys, so that nothing depends on how the platform
// carries a view over to keys opened relative to another.
LSTATUS DeleteKeyTree(const std::wstring& path, REGSAM view) {
    std::vector<std::wstring> children;
    {
        UniqueRegKey key;
        const LSTATUS status =
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.put());
        if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) return status;
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            DWORD length = ARRAYSIZE(name);
            if (::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            children.emplace_back(name, length);
        }
    }
    for (const std::wstring& child : children) {
        const LSTATUS status = DeleteKeyTree(path + L"\\" + child, view);
        if (status != ERROR_SUCCESS) return status;
    }
    const LSTATUS status = ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), view, 0);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

bool ClearMachine() {
    bool cleared = DeleteKeyTree(kMakerKey, kView32) == ERROR_SUCCESS;
    cleared = DeleteKeyTree(kMakerKey, kView64) == ERROR_SUCCESS && cleared;
    const LSTATUS appDefaults = ::RegDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
    cleared = (appDefaults == ERROR_SUCCESS || appDefaults == ERROR_FILE_NOT_FOUND) && cleared;
    for (int row = 1; row <= 4; ++row) {
        const std::wstring folder = GetManualFolder(row);
        cleared = !folder.empty() && DeleteTree(folder) && cleared;
        // The folders above are the maker's, made by an earlier scenario; gone once empty.
        for (std::wstring parent = GetParentFolder(folder); parent.size() > 3;
             parent = GetParentFolder(parent)) {
            if (parent == GetKnownFolder(FOLDERID_ProgramData) || !::RemoveDirectoryW(parent.c_str())) break;
        }
    }
    return cleared;
}

LSTATUS SetReportedWindows(const wchar_t* version) {
    if (!RunsUnderWine()) {
        const bool accepted = std::wcscmp(version, L"win81") == 0 || std::wcscmp(version, L"win10") == 0;
        return accepted ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
    }
    UniqueRegKey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    const DWORD size = static_cast<DWORD>((std::wcslen(version) + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), size);
}

bool MakeEligible(const wchar_t* windows) {
    return SetReportedWindows(windows) == ERROR_SUCCESS &&
           WriteRecord(kManualRecord, kNativeView, std::wstring(L"3.0.0.08100")) == ERROR_SUCCESS;
}

std::wstring GetExecutableUnderTest() {
    const std::wstring exe = GetEnvironmentText(L"ORVET_EXE");
    return exe.empty() ? exe : ToWindowsPath(exe);
}

LSTATUS WriteValue(const wchar_t* key, REGSAM view, const wchar_t* name, DWORD type, const void* data,
                   DWORD size) {
    UniqueRegKey opened;
    const LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_SET_VALUE | view, nullptr, opened.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    return ::RegSetValueExW(opened.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

LSTATUS WriteRecord(const wchar_t* key, REGSAM view, const std::optional<std::wstring>& version) {
    if (version) {
        const DWORD size = static_cast<DWORD>((version->size() + 1) * sizeof(wchar_t));
        return WriteValue(key, view, L"version", REG_SZ, version->c_str(), size);
    }
    UniqueRegKey opened;
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | view,
                             nullptr, opened.put(), nullptr);
}

LSTATUS SetLaunchInstaller(DWORD flag) {
    return WriteValue(kUpdaterKey, kNativeView, L"LaunchInstaller", REG_DWORD, &flag, sizeof flag);
}

bool KeyExists(const wchar_t* key, REGSAM view) {
    UniqueRegKey opened;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, opened.put()) == ERROR_SUCCESS;
}

LSTATUS ReadValue(const wchar_t* key, REGSAM view, const wchar_t* name, DWORD& type,
                  std::vector<BYTE>& data) {
    type = REG_NONE;
    data.clear();
    UniqueRegKey opened;
    LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, opened.put());
    if (status != ERROR_SUCCESS) return status;
    DWORD size = 0;
    status = ::RegQueryValueExW(opened.get(), name, nullptr, nullptr, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    std::vector<BYTE> bytes(size);
    DWORD readType = REG_NONE;
    status = ::RegQueryValueExW(opened.get(), name, nullptr, &readType, bytes.data(), &size);
    if (status != ERROR_SUCCESS) return status;
    bytes.resize(size);
    type = readType;
    data = std::move(bytes);
    return ERROR_SUCCESS;
}

std::vector<std::wstring> GetMakerFolders() {
    const std::wstring guide = GetManualFolder(1);  // C:\Documentation\Orvet User Guide
    const std::wstring care = GetManualFolder(2);   // ...\Halvern Corporation\Orvet Care\BasicManual
    if (guide.empty() || care.empty()) return {};
    return {GetParentFolder(guide), GetParentFolder(GetParentFolder(care))};
}

std::wstring GetManualFolder(int row) {
    if (row == 1) {
        wchar_t windows[MAX_PATH];
        const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return {};
        const std::wstring path(windows, length);
        const std::size_t slash = path.find(L'\\');
        const std::wstring root = slash == std::wstring::npos ? path + L"\\" : path.substr(0, slash + 1);
        return root + L"Documentation\\Orvet User Guide";
    }
    static constexpr const wchar_t* kCareFolders[] = {L"BasicManual", L"Localsite", L"UpdatedManual"};
    if (row < 2 || row > 4) return {};
    const std::wstring programData = GetKnownFolder(FOLDERID_ProgramData);
    if (programData.empty()) return {};
    return programData + L"\\Halvern Corporation\\Orvet Care\\" + kCareFolders[row - 2];
}

std::optional<DWORD> RunToExit(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs,
                               std::wstring& failure, const std::function<void(HANDLE)>& poll) {
    failure.clear();
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started)) {
        failure = L"CreateProcessW failed with error " + std::to_wstring(::GetLastError());
        return std::nullopt;
    }
    const UniqueKernelHandle process(started.hProcess);
    const UniqueKernelHandle thread(started.hThread);

    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    DWORD waited = WAIT_TIMEOUT;
    if (poll) {
        for (ULONGLONG now = ::GetTickCount64(); waited == WAIT_TIMEOUT && now < deadline;
             now = ::GetTickCount64()) {
            poll(process.get());
            waited = ::WaitForSingleObject(process.get(),
                                           static_cast<DWORD>(std::min<ULONGLONG>(5, deadline - now)));
        }
    } else {
        waited = ::WaitForSingleObject(process.get(), timeoutMs);
    }
    if (waited != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 255);
        (void)::WaitForSingleObject(process.get(), 5000);
        failure = L"no exit within " + std::to_wstring(timeoutMs) + L" ms; terminated";
        return std::nullopt;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process.get(), &code)) {
        failure = L"GetExitCodeProcess failed with error " + std::to_wstring(::GetLastError());
        return std::nullopt;
    }
    return code;
}

}  // namespace machine
