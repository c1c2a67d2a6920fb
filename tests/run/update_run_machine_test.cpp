// The updater flag at its real place in the test prefix's registry, which the end-to-end suites share:
// CTest never runs this beside them.
#include <windows.h>

#include <gtest/gtest.h>

#include "test_registry.h"
#include "update_run_internal.h"

namespace {

TEST(MachineRecordsTest, UpdaterFlagTakesAtMostFourBytesOfAnyType) {
    constexpr wchar_t kUpdater[] = L"SOFTWARE\\Halvern Corporation\\Orvet Update";
    const LSTATUS deleted = ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUpdater, 0, 0);
    ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) << deleted;
    EXPECT_EQ(ReadUpdaterFlag(), 0u) << "no key";
    struct Case {
        const char* name;
        DWORD type;
        Bytes bytes;
        DWORD flag;
    };
    const Case cases[] = {
        {"REG_DWORD 1", REG_DWORD, {1, 0, 0, 0}, 1},
        {"1-byte binary 1", REG_BINARY, {1}, 1},
        {"text \"1\"", REG_SZ, {'1', 0, 0, 0}, 0x31},
        {"5-byte binary", REG_BINARY, {1, 0, 0, 0, 0}, 0},
        {"REG_QWORD 1", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        const UniqueRegKey key = CreateEmptyKey(kUpdater);
        EXPECT_EQ(ReadUpdaterFlag(), 0u) << "no value";
        SetValue(key.get(), L"LaunchInstaller", c.type, c.bytes);
        EXPECT_EQ(ReadUpdaterFlag(), c.flag) << c.name;
    }
    // The other suites expect a machine without a flag.
    EXPECT_EQ(::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUpdater, 0, 0), ERROR_SUCCESS);
}

}  // namespace
