// The directory link makers of tools/harness/. On Windows each must make a link that lists as a directory
// link of its own kind, leads to its target, and goes again without it. Wine 8 makes neither kind, and
// there only the shape of its refusal is checked.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "files.h"
#include "machine.h"
#include "scratch_folder_test.h"
#include "unique_handle.h"

namespace {

class LinkMakers : public ScratchFolderTest {
  protected:
    LinkMakers() : ScratchFolderTest(L"orvet-links") {}
};

TEST_F(LinkMakers, MakeDirectoryLinksThatLeadToTheirTarget) {
    const std::wstring target = scratch_ + L"\\target";
    ASSERT_TRUE(WriteFileBytes(target + L"\\page.htm", "<head>"));
    const struct {
        const char* name;
        bool (*make)(const std::wstring&, const std::wstring&);
        std::wstring target;
        DWORD tag;
    } makers[] = {
        {"junction", MakeJunction, target, IO_REPARSE_TAG_MOUNT_POINT},
        {"junction, literal target", MakeJunction, L"\\\\?\\" + target, IO_REPARSE_TAG_MOUNT_POINT},
        {"symbolic link", MakeDirectorySymbolicLink, target, IO_REPARSE_TAG_SYMLINK},
        {"relative symbolic link", MakeDirectorySymbolicLink, L"target", IO_REPARSE_TAG_SYMLINK},
    };
    for (const auto& maker : makers) {
        SCOPED_TRACE(maker.name);
        const std::wstring link = scratch_ + L"\\link";
        const bool made = maker.make(link, maker.target);
        const DWORD error = ::GetLastError();
        if (machine::RunsUnderWine()) {
            // Wine 8 has no junctions, and reports a symbolic link made that is not there.
            EXPECT_FALSE(made);
            EXPECT_EQ(error, DWORD{ERROR_NOT_SUPPORTED});
            EXPECT_EQ(::GetFileAttributesW(link.c_str()), INVALID_FILE_ATTRIBUTES) << "a folder was left";
            continue;
        }
        ASSERT_TRUE(made) << "error " << error;
        WIN32_FIND_DATAW entry{};
        {
            const UniqueFindHandle listing(::FindFirstFileW(link.c_str(), &entry));
            ASSERT_TRUE(listing);
        }
        constexpr DWORD kDirectoryLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        EXPECT_EQ(entry.dwFileAttributes & kDirectoryLink, kDirectoryLink);
        EXPECT_EQ(entry.dwReserved0, maker.tag) << "the reparse tag";
        EXPECT_EQ(ReadFileBytes(link + L"\\page.htm").value_or("<unreadable>"), "<head>");
        ASSERT_TRUE(DeleteTree(link));
        EXPECT_EQ(ReadFileBytes(target + L"\\page.htm").value_or("<unreadable>"), "<head>") << "the target";
    }
}

}  // namespace
