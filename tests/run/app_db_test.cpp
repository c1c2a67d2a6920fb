// ReadAppDbVersion against the real registry of the test prefix, on scratch keys that each test clears
// first and that nothing else touches.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_registry.h"
#include "update_run_internal.h"

namespace {

// CTest runs every test on its own and in parallel: each has a key of its own.
TEST(AppDbTest, ReadAppDbVersionDecodesAnyTypeOfValue) {
    constexpr wchar_t kScratch[] = L"SOFTWARE\\OrvetRunTest\\AnyType";
    struct Case {
        const char* name;
        DWORD type;
        Bytes bytes;
        std::wstring text;
    };
    const Case cases[] = {
        {"REG_SZ", REG_SZ, {'3', 0, '.', 0, '0', 0, 0, 0}, L"3.0"},
        {"REG_SZ without NUL", REG_SZ, {'9', 0}, L"9"},
        {"REG_SZ, embedded NUL", REG_SZ, {'3', 0, 0, 0, '9', 0, 0, 0}, L"3"},
        {"REG_SZ, empty", REG_SZ, {}, L""},
        {"REG_BINARY, odd length", REG_BINARY, {'8', 0, '.', 0, '2'}, L"8.2"},
        {"REG_DWORD", REG_DWORD, {'2', 0, '3', 0}, L"23"},
    };
    for (const Case& c : cases) {
        const UniqueRegKey key = CreateEmptyKey(kScratch);
        SetValue(key.get(), L"version", c.type, c.bytes);
        std::wstring version = L"stale";
        EXPECT_TRUE(ReadAppDbVersion(kScratch, KEY_READ, version)) << c.name;
        EXPECT_EQ(version, c.text) << c.name;
    }
}

TEST(AppDbTest, ReadAppDbVersionFindsNoVersionWithoutKeyOrValue) {
    constexpr wchar_t kScratch[] = L"SOFTWARE\\OrvetRunTest\\NoValue";
    const UniqueRegKey key = CreateEmptyKey(kScratch);
    SetValue(key.get(), L"Version2", REG_SZ, {'1', 0, 0, 0});
    std::wstring version = L"stale";
    EXPECT_FALSE(ReadAppDbVersion(kScratch, KEY_READ, version));
    EXPECT_EQ(version, L"");

    version = L"stale";
    EXPECT_FALSE(ReadAppDbVersion(L"SOFTWARE\\OrvetRunTest\\NoSuchRecord", KEY_READ, version));
    EXPECT_EQ(version, L"");
}

TEST(AppDbTest, ReadAppDbVersionReadsTheViewItIsGiven) {
    // The view this build does not read natively: the 64-bit one for the shipped 32-bit build.
#ifdef _WIN64
    constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
    constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif
    constexpr wchar_t kOnlyOther[] = L"SOFTWARE\\OrvetRunTest\\OnlyOther";
    const UniqueRegKey key = CreateEmptyKey(kOnlyOther, kOtherView);
    SetValue(key.get(), L"version", REG_SZ, {'8', 0, 0, 0});
    std::wstring version;
    EXPECT_FALSE(ReadAppDbVersion(kOnlyOther, KEY_READ, version));
    EXPECT_TRUE(ReadAppDbVersion(kOnlyOther, KEY_READ | kOtherView, version));
    EXPECT_EQ(version, L"8");
}

}  // namespace
