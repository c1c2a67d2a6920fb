// The run from the gates to the notice, and the platform queries it decides on.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <string_view>

#include "patch.h"
#include "resource.h"
#include "unique_handle.h"
#include "update_run.h"
#include "update_run_internal.h"

namespace {

// Row 1 lies under the drive root of the Windows folder, rows 2 to 4 under ProgramData.
constexpr std::wstring_view kUserGuideFolder = L"Documentation\\Orvet User Guide";
constexpr std::wstring_view kProgramDataFolders[] = {
    L"Halvern Corporation\\Orvet Care\\BasicManual",
    L"Halvern Corporation\\Orvet Care\\Localsite",
    L"Halvern Corporation\\Orvet Care\\UpdatedManual",
};

// The walk of `base` + `tail` when that folder exists, else 0. Memory running out on the way skips the
// folder like one that does not exist.
int PatchTargetFolder(std::wstring_view base, std::wstring_view tail) noexcept {
    return RunStep(0, [&] {
        std::wstring target;
        target.reserve(base.size() + tail.size());
        target.append(base).append(tail);
        if (!::PathFileExistsW(target.c_str())) return 0;
        return PatchFolderTree(target);
    });
}

void ShowCompletionNotice() noexcept {
    std::wstring message;
    std::wstring caption;
    if (!LoadResourceString(IDS_INSTALL_SUCCESS, message)) return;
    if (!LoadResourceString(IDS_APP_CAPTION, caption)) return;
    (void)::MessageBoxW(nullptr, message.c_str(), caption.c_str(), MB_OK);
}

// Whether the platform reports a Windows 6.3 (or later minor) workstation to this executable.
bool IsSupportedWindows() noexcept {
    OSVERSIONINFOEXW info{};
    static_assert(sizeof info == 284);
    info.dwOSVersionInfoSize = sizeof info;
    // The gate wants the version the platform reports to this executable, which its manifest decides.
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
    static_assert(VER_NT_WORKSTATION == kWorkstationProductType);
    return IsSupportedWindowsVersion(info.dwMajorVersion, info.dwMinorVersion, info.wProductType);
}

// Asks the platform to refuse directory links that non-administrators created. Returns whether the
// platform took the request; where it has no such policy or refuses it, nothing changes.
bool RequestRedirectionTrust() noexcept {
    using SetMitigationPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    // Looked up at run time: Windows 7 lacks the function, and an import of it would keep the
    // executable from starting there at all.
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return false;
    const FARPROC address = ::GetProcAddress(kernel, "SetProcessMitigationPolicy");
    if (address == nullptr) return false;
    const auto setPolicy = reinterpret_cast<SetMitigationPolicy>(reinterpret_cast<void (*)()>(address));

    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    // Releases before the policy existed refuse it; the run then goes on as before.
    return setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof policy) != FALSE;
}

}  // namespace

int RunUpdate() noexcept {
    if (!IsSupportedWindows() || !IsEligibleProductInstalled()) return 1;

    // Ordinary users can write below ProgramData; a junction one of them planted there must not lead
    // this elevated run to pages the user could not touch.
    (void)RequestRedirectionTrust();

    int handled = 0;
    std::wstring base;
    if (KnownFolderWithSlash(FOLDERID_Windows, base) == S_OK) {
        const std::wstring_view root = GetDriveRoot(base);
        if (!root.empty()) handled = PatchTargetFolder(root, kUserGuideFolder);
    }
    if (KnownFolderWithSlash(FOLDERID_ProgramData, base) == S_OK) {
        for (const std::wstring_view folder : kProgramDataFolders) handled |= PatchTargetFolder(base, folder);
    }

    WriteVersionStamp();
    if (ReadUpdaterFlag() != 1 && handled != 0) ShowCompletionNotice();
    return 0;
}

HRESULT KnownFolderWithSlash(REFKNOWNFOLDERID id, std::wstring& path) noexcept {
    path.clear();
    wchar_t* raw = nullptr;
    const HRESULT status = ::SHGetKnownFolderPath(id, 0, nullptr, &raw);
    // The platform may hand back a buffer also with a failure; it is freed either way.
    const UniqueCoTaskMemText buffer(raw);
    if (status != S_OK) return status;
    if (!buffer) return E_UNEXPECTED;
    // The room for the slash is taken first: after it nothing can fail, so `path` is whole or empty.
    return RunStep(E_OUTOFMEMORY, [&] {
        const std::wstring_view folder = buffer.get();
        path.reserve(folder.size() + 1);
        path.assign(folder).push_back(L'\\');
        return S_OK;
    });
}
