// The run from the gates to the notice, and the platform queries it decides on.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "patch.h"
#include "resource.h"
#include "unique_handle.h"
#include "update_run.h"
#include "update_run_internal.h"

namespace {

// Row 1 lies under the drive root of the Windows folder, rows 2 to 4 under ProgramData. The maker's two
// folders, the only places the run writes in, are row 1's folder and the one that holds rows 2 to 4.
constexpr std::wstring_view kUserGuideFolder = L"Documentation\\Orvet User Guide";
constexpr std::wstring_view kMakerDataFolder = L"Halvern Corporation";
constexpr std::wstring_view kProgramDataFolders[] = {
    L"Halvern Corporation\\Orvet Care\\BasicManual",
    L"Halvern Corporation\\Orvet Care\\Localsite",
    L"Halvern Corporation\\Orvet Care\\UpdatedManual",
};

// Where the maker's folder `base` + `tail` really lies, when that is where its path says: below the known
// folder `base`, whatever it was redirected to, `tail` holds no link. Empty otherwise, or when either
// can't be opened: folders that a standard user may have made or swapped are then no place to write in.
std::wstring FindMakerFolder(std::wstring_view base, std::wstring_view tail) noexcept {
    return RunStep(std::wstring(), [&] {
        // The known folder without its backslash, unless it is a drive root, which needs it.
        const std::wstring known(base.substr(0, base.size() > 3 ? base.size() - 1 : base.size()));
        const std::wstring knownLocation = ReadFolderLocation(known);
        std::wstring place = ReadFolderLocation(std::wstring(base).append(tail));
        if (knownLocation.empty() || !IsPlaceAt(place, knownLocation, tail)) place.clear();
        return place;
    });
}

// The maker's folders that were found; none when memory runs out, so that nothing is written.
std::vector<std::wstring> CollectMakerFolders(const std::wstring& userGuide,
                                              const std::wstring& makerData) noexcept {
    return RunStep(std::vector<std::wstring>(), [&] {
        std::vector<std::wstring> folders;
        for (const std::wstring* folder : {&userGuide, &makerData}) {
            if (!folder->empty()) folders.push_back(*folder);
        }
        return folders;
    });
}

// The walk of `base` + `tail` when that folder exists, else 0. Memory running out on the way skips the
// folder like one that does not exist.
int PatchTargetFolder(std::wstring_view base, std::wstring_view tail,
                      const std::vector<std::wstring>& makerFolders) noexcept {
    return RunStep(0, [&] {
        std::wstring target;
        target.reserve(base.size() + tail.size());
        target.append(base).append(tail);
        if (!::PathFileExistsW(target.c_str())) return 0;
        return PatchFolderTree(target, makerFolders);
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

    std::wstring windows;
    std::wstring programData;
    std::wstring_view root;
    if (KnownFolderWithSlash(FOLDERID_Windows, windows) == S_OK) root = GetDriveRoot(windows);
    (void)KnownFolderWithSlash(FOLDERID_ProgramData, programData);  // empty when it fails
    // A row is walked only when its maker's folder is where its path says, and every walk writes only in
    // the maker's folders that are: a link from one into the other is followed.
    const std::wstring userGuide = root.empty() ? std::wstring() : FindMakerFolder(root, kUserGuideFolder);
    const std::wstring makerData =
        programData.empty() ? std::wstring() : FindMakerFolder(programData, kMakerDataFolder);
    const std::vector<std::wstring> makerFolders = CollectMakerFolders(userGuide, makerData);

    int handled = 0;
    if (!userGuide.empty()) handled = PatchTargetFolder(root, kUserGuideFolder, makerFolders);
    if (!makerData.empty()) {
        for (const std::wstring_view folder : kProgramDataFolders)
            handled |= PatchTargetFolder(programData, folder, makerFolders);
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
    // Canonical, as the platform itself resolves it: a redirection that reads "C:\ProgramData\",
    // "C:\.\ProgramData" or "C:\Windows\..\ProgramData" names C:\ProgramData, and so must the literal form
    // built on it. Then exactly one trailing backslash.
    return RunStep(E_OUTOFMEMORY, [&] {
        DWORD length = ::GetFullPathNameW(buffer.get(), 0, nullptr, nullptr);
        if (length == 0) return E_UNEXPECTED;
        std::wstring full(length, L'\0');
        length = ::GetFullPathNameW(buffer.get(), length, full.data(), nullptr);
        if (length == 0 || length >= full.size()) return E_UNEXPECTED;
        full.resize(length);
        while (!full.empty() && full.back() == L'\\') full.pop_back();
        full.push_back(L'\\');
        path = std::move(full);
        return S_OK;
    });
}
