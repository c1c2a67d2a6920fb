// The application database records and the updater flag.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "run_guarded.h"
#include "unique_handle.h"
#include "update_run_internal.h"
#include "version.h"

namespace {

constexpr wchar_t kManualRecord[] = L"SOFTWARE\\Halvern Corporation\\Shared Info\\AppDB\\Orvet Manual";
constexpr wchar_t kCareRecord[] = L"SOFTWARE\\Halvern Corporation\\Shared Info\\AppDB\\Orvet Care";
// The Manual record is read in the view native to this process (the 32-bit one for the shipped build),
// the Care record in the 64-bit one.
constexpr REGSAM kManualAccess = KEY_READ;
constexpr REGSAM kCareAccess = KEY_READ | KEY_WOW64_64KEY;
static_assert(kManualAccess == 0x20019 && kCareAccess == 0x20119);

constexpr wchar_t kStampRecord[] = L"SOFTWARE\\Halvern Corporation\\Shared Info\\AppDB\\" ORVET_PRODUCT_NAME;
constexpr REGSAM kStampAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
static_assert(kStampAccess == 0x2001F);
// The version record's own text, stored with its terminating NUL: 24 bytes.
constexpr wchar_t kStampVersion[] = L"" ORVET_VERSION_TEXT;
static_assert(sizeof kStampVersion == 24);

constexpr wchar_t kUpdaterKey[] = L"SOFTWARE\\Halvern Corporation\\Orvet Update";

constexpr wchar_t kVersionValue[] = L"version";

}  // namespace

bool ReadAppDbVersion(const wchar_t* keyPath, REGSAM access, std::wstring& version) noexcept {
    version.clear();
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access, key.put()) != ERROR_SUCCESS) return false;

    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), kVersionValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    // A value of absurd size asks for more than any allocation grants: then there is no version.
    const std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[GetVersionBufferSize(size)]());
    if (!buffer) return false;
    // The value may have shrunk since the size query; only the bytes this query wrote count.
    DWORD read = size;
    if (::RegQueryValueExW(key.get(), kVersionValue, nullptr, nullptr, buffer.get(), &read) !=
        ERROR_SUCCESS) {
        return false;
    }
    // Assigned only once the text is whole: where memory runs out for it, `version` stays empty.
    return RunGuarded(false, [&] {
        version = DecodeVersionValue(buffer.get(), std::min(read, size));
        return true;
    });
}

bool IsEligibleProductInstalled() noexcept {
    std::wstring version;
    // Any version in the Manual record decides; the Care record counts only when it holds none.
    if (ReadAppDbVersion(kManualRecord, kManualAccess, version)) return IsAcceptedManualVersion(version);
    if (ReadAppDbVersion(kCareRecord, kCareAccess, version)) return IsAcceptedCareVersion(version);
    return false;
}

void WriteVersionStamp() noexcept {
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kStampRecord, 0, nullptr, REG_OPTION_NON_VOLATILE, kStampAccess,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS ||
        !key) {
        return;
    }
    (void)::RegSetValueExW(key.get(), kVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kStampVersion),
                           sizeof kStampVersion);
}

DWORD ReadUpdaterFlag() noexcept {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUpdaterKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
    BYTE bytes[sizeof(DWORD)] = {};
    DWORD size = sizeof bytes;
    // The value's type does not matter. A failed query (a value longer than 4 bytes among others) leaves
    // the bytes unsettled, so it reads as a start by a user.
    if (::RegQueryValueExW(key.get(), L"LaunchInstaller", nullptr, nullptr, bytes, &size) != ERROR_SUCCESS) {
        return 0;
    }
    return DecodeUpdaterFlag(bytes, size);
}
