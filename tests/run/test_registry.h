// Registry set-up for the tests of run/, through the Win32 API of the test prefix.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "bytes.h"
#include "unique_handle.h"

// Recreated empty in the given view; returns the open key.
inline UniqueRegKey CreateEmptyKey(const wchar_t* path, REGSAM view = 0) {
    const LSTATUS deleted = ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, view, 0);
    EXPECT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) << deleted;
    UniqueRegKey key;
    EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS);
    return key;
}

inline void SetValue(HKEY key, const wchar_t* name, DWORD type, const Bytes& bytes) {
    ASSERT_EQ(::RegSetValueExW(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}
