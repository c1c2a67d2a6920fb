// The run from the gates to the notice, and the platform queries it decides on.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_location.h"
#include "held_files.h"
#include "patch.h"
#include "resource.h"
#include "run_guarded.h"
#include "unique_handle.h"
#include "update_run.h"
#include "update_run_internal.h"

namespace {

// Row 1 lies under the drive root of the Windows folder, rows 2 to 4 under ProgramData. The maker's two
// folders, the only places the run writes in, are row 1's folder and the one that holds rows 2 to 4.
constexpr std::wstring_view kUserGuideFolder = L"Documentation\\Orvet User Guide";
constexpr std::wstring_view kMakerDataFolder = L"Halvern Corporation";

constexpr std::wstring_view kManualFolders[] = {L"Orvet Care\\BasicManual", L"Orvet Care\\Localsite",
                                                L"Orvet Care\\UpdatedManual"};

// Holds the maker's folder `base` + `tail` open, reached from the known folder `base` one name at a time,
// each opened as itself, and gives where it lies, when that is where its path says: below the known
// folder, whatever it was redirected to, `tail` holds no link. Nothing held otherwise, or when either
// can't be opened: folders that a standard user may have made or swapped are then no place to write in.
bool HoldMakerFolder(std::wstring_view base, std::wstring_view tail, std::vector<UniqueFileHandle>& folders,
                     std::vector<std::wstring>& locations) noexcept {
    return RunGuarded(false, [&] {
        // The known folder without its backslash, unless it is a drive root, which needs it.
        const std::wstring known(base.substr(0, base.size() > 3 ? base.size() - 1 : base.size()));
        UniqueFileHandle folder = OpenFolderByPath(known);
        std::wstring knownLocation;
        std::vector<std::wstring> names;
        if (!folder || !ReadHandleLocation(folder.get(), knownLocation) || !SplitNames(tail, names))
            return false;
        for (const std::wstring& name : names) {
            EntryKind kind{};
            folder = OpenHeldEntry(folder.get(), name, true, kind);
            if (!folder || kind != EntryKind::Directory) return false;
        }
        std::wstring place;
        if (!ReadHandleLocation(folder.get(), place) || !LiesAt(place, knownLocation, tail)) return false;
        // Room first, so that a handle and its location are added together or not at all.
        folders.reserve(folders.size() + 1);
        locations.reserve(locations.size() + 1);
        locations.push_back(std::move(place));
        folders.push_back(std::move(folder));
        return true;
    });
}

// The walk of the manual folder `tail` below the maker's folder `makerFolder`, whose ordinary path is
// `base` + `makerTail`; 0 when it does not exist. Memory running out on the way skips the folder too.
int PatchManualFolder(std::wstring_view base, std::wstring_view makerTail, std::wstring_view tail,
                      std::size_t makerFolder, const std::vector<HANDLE>& makerFolders,
                      const std::vector<std::wstring>& locations) noexcept {
    return RunGuarded(0, [&] {
        std::wstring path;
        path.reserve(base.size() + makerTail.size() + 1 + tail.size());
        path.append(base).append(makerTail);
        if (!tail.empty()) path.append(1, L'\\').append(tail);
        Way top{makerFolder, {}};
        if (!SplitNames(tail, top.names)) return 0;
        return PatchFolderTree(path, top, makerFolders, locations);
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
    // this elevated run to documents the user could not touch.
    (void)RequestRedirectionTrust();

    std::wstring windows;
    std::wstring programData;
    std::wstring_view root;
    if (KnownFolderWithSlash(FOLDERID_Windows, windows) == S_OK) root = GetDriveRoot(windows);
    (void)KnownFolderWithSlash(FOLDERID_ProgramData, programData);  // empty when it fails
    // A row is walked only when its maker's folder is where its path says; the maker's folders are held
    // for the whole run, and every walk opens only what lies in them: a link from one into the other is
    // followed.
    std::vector<UniqueFileHandle> held;
    std::vector<std::wstring> locations;
    const bool userGuide = !root.empty() && HoldMakerFolder(root, kUserGuideFolder, held, locations);
    const std::size_t makerDataIndex = held.size();
    const bool makerData =
        !programData.empty() && HoldMakerFolder(programData, kMakerDataFolder, held, locations);
    std::vector<HANDLE> makerFolders;
    const bool listed = RunGuarded(false, [&] {
        for (const UniqueFileHandle& folder : held) makerFolders.push_back(folder.get());
        return true;
    });

    int handled = 0;
    if (listed && userGuide)
        handled = PatchManualFolder(root, kUserGuideFolder, {}, 0, makerFolders, locations);
    if (listed && makerData) {
        for (const std::wstring_view folder : kManualFolders) {
            handled |= PatchManualFolder(programData, kMakerDataFolder, folder, makerDataIndex, makerFolders,
                                         locations);
        }
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
    return RunGuarded(E_OUTOFMEMORY, [&] {
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
