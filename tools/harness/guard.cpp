#include "guard.h"

#include <windows.h>

#include <vector>

#include "machine.h"
#include "unique_handle.h"

namespace guard {
namespace {

// The scratch keys of the registry tests of tests/run/.
constexpr wchar_t kRegistryTestKey[] = L"SOFTWARE\\OrvetRunTest";

// Whether this process runs elevated: in a filtered token the Administrators group is deny-only, and
// CheckTokenMembership does not count it then.
bool IsElevatedAdministrator() {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) return false;
    BOOL member = FALSE;
    return ::CheckTokenMembership(nullptr, administrators, &member) && member;
}

// A key that can't be opened for another reason than its absence counts as there.
bool KeyIsThere(const wchar_t* key, REGSAM view) {
    UniqueRegKey opened;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, opened.put()) != ERROR_FILE_NOT_FOUND;
}

bool PathIsThere(const std::wstring& path) {
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

}  // namespace

std::wstring FindRefusal(bool throwawayGiven) {
    std::wstring found;
    if (!throwawayGiven) {
        found +=
            L"not told that this is a throwaway machine: the tests rewrite the maker's registry keys, "
            L"the manual folders and C:\\Documentation (give --throwaway-machine)\n";
    }
    if (!IsElevatedAdministrator()) found += L"not running as administrator (elevated)\n";
    const struct {
        REGSAM view;
        const wchar_t* name;
    } views[] = {{machine::kView32, L"32-bit"}, {machine::kView64, L"64-bit"}};
    for (const auto& view : views) {
        if (KeyIsThere(machine::kMakerKey, view.view)) {
            found += L"the maker's records exist: HKLM\\" + std::wstring(machine::kMakerKey) + L" (" +
                     view.name + L" view)\n";
        }
    }
    const std::vector<std::wstring> folders = machine::GetMakerFolders();
    if (folders.empty()) found += L"the platform does not name the manual folders\n";
    for (const std::wstring& folder : folders) {
        if (PathIsThere(folder)) found += L"the maker's folders exist: " + folder + L"\n";
    }
    return found;
}

bool InBuildPrefix() {
    wchar_t value[8];
    return machine::RunsUnderWine() &&
           ::GetEnvironmentVariableW(L"ORVET_BUILD_PREFIX", value, ARRAYSIZE(value)) != 0;
}

bool ClearTestTraces() {
    bool cleared = machine::ClearMachine();
    for (const REGSAM view : {machine::kView32, machine::kView64}) {
        cleared = machine::DeleteKeyTree(kRegistryTestKey, view) == ERROR_SUCCESS && cleared;
    }
    return cleared;
}

}  // namespace guard
