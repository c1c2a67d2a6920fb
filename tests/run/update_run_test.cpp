// The platform look-ups of the run: known folders and the executable's string tables.
#include <windows.h>

#include <knownfolders.h>

#include <gtest/gtest.h>

#include <string>

#include "update_run_internal.h"

namespace {

TEST(UpdateRunTest, KnownFolderCarriesExactlyOneTrailingBackslash) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    std::wstring path = L"stale";
    ASSERT_EQ(KnownFolderWithSlash(FOLDERID_Windows, path), S_OK);
    EXPECT_EQ(path, std::wstring(windows) + L"\\");
}

TEST(UpdateRunTest, UnknownFolderLeavesThePathEmpty) {
    constexpr KNOWNFOLDERID kNoSuchFolder = {0x0badf00d, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    std::wstring path = L"stale";
    EXPECT_NE(KnownFolderWithSlash(kNoSuchFolder, path), S_OK);
    EXPECT_EQ(path, L"");
}

// The test program carries block 7 with entries 103 and 105 only (run_test_strings.rc).
TEST(UpdateRunTest, LoadResourceStringFindsOnlyFilledEntries) {
    std::wstring text;
    EXPECT_TRUE(LoadResourceString(103, text));
    EXPECT_EQ(text, L"Test caption");
    EXPECT_TRUE(LoadResourceString(105, text));
    EXPECT_EQ(text, L"Test message, long enough to need more than one line of the block");
    for (const UINT missing : {96u, 104u, 109u, 111u, 112u, 2000u}) {
        text = L"stale";
        EXPECT_FALSE(LoadResourceString(missing, text)) << missing;
        EXPECT_EQ(text, L"") << missing;
    }
}

}  // namespace
