// PatchDocument on real files in a scratch folder: the bytes it leaves, the attribute word it puts
// back, and what it refuses to touch.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "files.h"
#include "fixed_texts.h"
#include "machine.h"
#include "patch.h"
#include "scratch_folder_test.h"
#include "unique_handle.h"

using namespace std::string_literals;

namespace {

constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
constexpr DWORD kHidden = FILE_ATTRIBUTE_HIDDEN;
constexpr DWORD kSystem = FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kArchive = FILE_ATTRIBUTE_ARCHIVE;

// Opened for attributes only, so that no sharing rule stands in the way.
FILE_BASIC_INFO GetBasicInfo(const std::wstring& path) {
    FILE_BASIC_INFO info{};
    UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    if (file) (void)::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &info, sizeof info);
    return info;
}

void SetLastWriteTime(const std::wstring& path, std::int64_t time) {
    UniqueFileHandle file(
        ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    FILETIME when{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &when));
}

class PatchDocumentTest : public ScratchFolderTest {
  protected:
    PatchDocumentTest() : ScratchFolderTest(L"orvet-doc") {}
    void SetUp() override {
        ScratchFolderTest::SetUp();
        inside_ = {ReadFolderLocation(scratch_)};
    }

    std::wstring MakeDocument(std::string_view bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
        const std::wstring path = scratch_ + L"\\page" + std::to_wstring(++count_) + L".htm";
        EXPECT_TRUE(WriteFileBytes(path, bytes)) << path;
        if (attributes != FILE_ATTRIBUTE_NORMAL) {
            EXPECT_TRUE(::SetFileAttributesW(path.c_str(), attributes));
        }
        return path;
    }

    std::vector<std::wstring> inside_;  // the scratch folder stands for the maker's
    unsigned count_ = 0;
};

struct GrowthCase {
    const char* name;
    std::string before;
    std::string after;  // equal to `before` when nothing may change
};

std::vector<GrowthCase> GrowthCases() {
    const std::string document =
        "<html>\r\n<head>\r\n<title>Index</title>\r\n</head>\r\n<body>x</body>\r\n</html>\r\n";
    return {
        {"tag only", document,
         "<html>\r\n<head>" + kTag + "\r\n<title>Index</title>\r\n</head>\r\n<body>x</body>\r\n</html>\r\n"},
        {"upper-case head", "<HTML><HEAD><TITLE>T</TITLE></HEAD></HTML>",
         "<HTML><HEAD>" + kTag + "<TITLE>T</TITLE></HEAD></HTML>"},
        {"ends with head", "<html><head>", "<html><head>" + kTag},
        {"comment only", kZone + "\r\n<html><body>x</body></html>",
         kLocal + "\r\n<html><body>x</body></html>"},
        {"both", "<!DOCTYPE html>\n" + kZone + "\n<html><head><title>T</title></head></html>\n",
         "<!DOCTYPE html>\n" + kLocal + "\n<html><head>" + kTag + "<title>T</title></head></html>\n"},
        {"comment after head", "<html><head>" + kZone + "</head></html>",
         "<html><head>" + kTag + kLocal + "</head></html>"},
        {"already patched", kLocal + "<html><head>" + kTag + "</head></html>",
         kLocal + "<html><head>" + kTag + "</head></html>"},
        {"tag present, comment not yet", kZone + "<html><head>" + kTag + "</head></html>",
         kLocal + "<html><head>" + kTag + "</head></html>"},
        {"neither head nor comment", "<html><body>plain</body></html>", "<html><body>plain</body></html>"},
        {"empty", "", ""},
        // The whole document is its text: what stands after a NUL byte is searched and kept.
        {"head after a NUL", "<html>\0\0<head>x\0y</head>"s, "<html>\0\0<head>"s + kTag + "x\0y</head>"s},
        {"comment after a NUL", "\0"s + kZone + "\0"s, "\0"s + kLocal + "\0"s},
        {"both after a NUL", "ab\0"s + kZone + "<head>\0"s, "ab\0"s + kLocal + "<head>" + kTag + "\0"s},
        {"NUL, nothing to do", "<html>\0<body></body>\0"s, "<html>\0<body></body>\0"s},
        // Binary stream: no line-end or end-of-file byte means anything.
        {"bytes above 0x7F, CR, LF, Ctrl-Z",
         "\xEF\xBB\xBF<html>\r\n\x1A<head>\xC3\xA9\x80\xFF\n\r</head>\x1A",
         "\xEF\xBB\xBF<html>\r\n\x1A<head>" + kTag + "\xC3\xA9\x80\xFF\n\r</head>\x1A"},
    };
}

TEST_F(PatchDocumentTest, LeavesExactlyTheExpectedBytes) {
    for (const GrowthCase& c : GrowthCases()) {
        const std::wstring path = MakeDocument(c.before);
        EXPECT_EQ(PatchDocument(path, inside_), 1) << c.name;
        EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"), c.after) << c.name;
        // A second run finds nothing left to do.
        EXPECT_EQ(PatchDocument(path, inside_), 1) << c.name << ", second run";
        EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"), c.after) << c.name << ", second run";
    }
}

TEST_F(PatchDocumentTest, PutsEveryAttributeBitBack) {
    const DWORD words[] = {
        kReadOnly,
        kReadOnly | kArchive,
        kReadOnly | kHidden,
        kReadOnly | kSystem,
        kReadOnly | kHidden | kSystem | kArchive,
        kHidden,
        kSystem | kArchive,
        kHidden | kSystem,
    };
    const std::string contents[] = {kZone + "<head></head>", "", "<html>no change</html>"};
    for (const DWORD word : words) {
        for (const std::string& content : contents) {
            // Only the first is rewritten; the others keep even their archive bit.
            const bool changes = &content == &contents[0];
            const std::wstring path = MakeDocument(content, word);
            const DWORD before = ::GetFileAttributesW(path.c_str());
            ASSERT_NE(before, INVALID_FILE_ATTRIBUTES);
            ASSERT_EQ(before & (kReadOnly | kHidden | kSystem), word & (kReadOnly | kHidden | kSystem))
                << "set-up of " << std::hex << word;
            EXPECT_EQ(PatchDocument(path, inside_), 1) << std::hex << word << " on \"" << content << "\"";
            const DWORD after = ::GetFileAttributesW(path.c_str());
            EXPECT_EQ(changes ? WithoutArchiveBit(after) : after,
                      changes ? WithoutArchiveBit(before) : before)
                << std::hex << word << " on \"" << content << "\"";
        }
    }
    // The document was rewritten while its read-only bit was cleared, and holds both edits.
    const std::wstring path = MakeDocument(kZone + "<head></head>", kReadOnly | kHidden);
    ASSERT_EQ(PatchDocument(path, inside_), 1);
    EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"), kLocal + "<head>" + kTag + "</head>");
}

// A document without the read-only bit has its attribute word left alone, and one that needs no edit is
// not written at all: its change time (which any attribute write moves) and its last-write time stay.
TEST_F(PatchDocumentTest, WritesNothingToAnUntouchedDocument) {
    const std::int64_t kLongAgo = 125911584000000000;  // 2000-01-01
    const struct {
        const char* name;
        std::string content;
        DWORD attributes;
    } cases[] = {
        {"empty", "", FILE_ATTRIBUTE_NORMAL},
        {"already patched", kLocal + "<head>" + kTag, FILE_ATTRIBUTE_NORMAL},
        {"no head, no comment", "<html><Head></Head><header></header></html>", kArchive},
        {"hidden, nothing to do", "<body></body>", kHidden},
        {"system and hidden, NUL", "\0<body>\0"s, kHidden | kSystem},
    };
    for (const auto& c : cases) {
        const std::wstring path = MakeDocument(c.content);
        SetLastWriteTime(path, kLongAgo);
        if (c.attributes != FILE_ATTRIBUTE_NORMAL) {
            ASSERT_TRUE(::SetFileAttributesW(path.c_str(), c.attributes));
        }
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        // Far enough from the last change that a new one gets another time stamp.
        ::Sleep(40);
        const FILE_BASIC_INFO before = GetBasicInfo(path);
        ASSERT_NE(before.ChangeTime.QuadPart, 0) << c.name;
        EXPECT_EQ(PatchDocument(path, inside_), 1) << c.name;
        const FILE_BASIC_INFO after = GetBasicInfo(path);
        EXPECT_EQ(::GetFileAttributesW(path.c_str()), attributes) << c.name;
        EXPECT_EQ(after.LastWriteTime.QuadPart, kLongAgo) << c.name;
        EXPECT_EQ(after.ChangeTime.QuadPart, before.ChangeTime.QuadPart) << c.name;
        EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"), c.content) << c.name;
    }
    // The probe sees attribute writes: a read-only document's bit is cleared and set again. Wine, run as
    // root, opens a read-only file for writing, so the bit is never cleared there: the test's own
    // attribute write stands in.
    const std::wstring path = MakeDocument("<body></body>", kReadOnly);
    ::Sleep(40);
    const FILE_BASIC_INFO before = GetBasicInfo(path);
    if (machine::RunsUnderWine()) {
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), kReadOnly | kHidden));
    } else {
        ASSERT_EQ(PatchDocument(path, inside_), 1);
    }
    EXPECT_NE(GetBasicInfo(path).ChangeTime.QuadPart, before.ChangeTime.QuadPart);
}

// Another opener of the document, for reading, writing or deleting, under any sharing: the exclusive open
// is refused, and a read-only bit cleared before the open stays cleared.
TEST_F(PatchDocumentTest, RefusesADocumentHeldOpenElsewhere) {
    const struct {
        const char* name;
        DWORD access;
        DWORD share;
        DWORD attributes;
    } cases[] = {
        {"read, no sharing", GENERIC_READ, 0, FILE_ATTRIBUTE_NORMAL},
        {"read, shared for read and write", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
         FILE_ATTRIBUTE_NORMAL},
        {"write, no sharing", GENERIC_WRITE, 0, FILE_ATTRIBUTE_NORMAL},
        {"write, shared for read and write", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
         FILE_ATTRIBUTE_NORMAL},
        {"delete, shared for all", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         FILE_ATTRIBUTE_NORMAL},
        {"read-only, read, no sharing", GENERIC_READ, 0, kReadOnly},
        {"read-only, read, shared for read and write", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
         kReadOnly | kHidden},
    };
    const std::string content = kZone + "<html><head></head></html>";
    for (const auto& c : cases) {
        const std::wstring path = MakeDocument(content, c.attributes);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        {
            UniqueFileHandle holder(
                ::CreateFileW(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holder) << c.name << ": " << ::GetLastError();
            EXPECT_EQ(PatchDocument(path, inside_), 0) << c.name;
        }
        EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"), content) << c.name;
        EXPECT_EQ(::GetFileAttributesW(path.c_str()), attributes & ~kReadOnly) << c.name;
        // Once the other opener is gone, the document is patched as usual.
        EXPECT_EQ(PatchDocument(path, inside_), 1) << c.name;
        EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"),
                  kLocal + "<html><head>" + kTag + "</head></html>")
            << c.name;
    }
}

// A document is written only where every name it has lies inside the maker's folders (here the scratch
// folder's "maker"): a hard link planted there to a document elsewhere leads to nothing, and a document
// outside, read-only or not, is left as it is, its bit too.
TEST_F(PatchDocumentTest, LeavesWhatLiesOutsideTheMakersFoldersAsItIs) {
    const std::wstring maker = scratch_ + L"\\maker";
    const std::wstring outside = scratch_ + L"\\outside";
    for (const std::wstring& folder : {maker, outside})
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::vector<std::wstring> makerFolders = {ReadFolderLocation(maker)};
    const std::string content = kZone + "<html><head></head></html>";
    const std::string patched = kLocal + "<html><head>" + kTag + "</head></html>";
    const struct {
        const char* name;
        std::wstring document;  // what the walk would hand over
        std::wstring target;    // the document's file, when the document is a hard link to it
        DWORD attributes;
        bool patched;
    } cases[] = {
        {"a hard link to a read-only document outside", maker + L"\\hard.htm", outside + L"\\system.htm",
         kReadOnly, false},
        {"a hard link to a document outside", maker + L"\\hard2.htm", outside + L"\\other.htm", 0, false},
        {"a document outside", outside + L"\\plain.htm", {}, 0, false},
        {"a read-only document outside", outside + L"\\readonly.htm", {}, kReadOnly | kHidden, false},
        // Both names inside: Windows lists them and the document is patched. Wine can't list a file's names
        // (FileHardLinkInformation is not implemented), so there it can't be told and is left alone.
        {"two names inside", maker + L"\\twin.htm", maker + L"\\twin-original.htm", 0,
         !machine::RunsUnderWine()},
    };
    for (const auto& c : cases) {
        const std::wstring file = c.target.empty() ? c.document : c.target;
        ASSERT_TRUE(WriteFileBytes(file, content)) << c.name;
        if (!c.target.empty()) {
            ASSERT_TRUE(::CreateHardLinkW(c.document.c_str(), file.c_str(), nullptr)) << c.name;
        }
        if (c.attributes != 0) {
            ASSERT_TRUE(::SetFileAttributesW(file.c_str(), c.attributes)) << c.name;
        }
        const DWORD attributes = ::GetFileAttributesW(file.c_str());

        EXPECT_EQ(PatchDocument(c.document, makerFolders), c.patched ? 1 : 0) << c.name;
        EXPECT_EQ(ReadFileBytes(file).value_or("<unreadable>"), c.patched ? patched : content) << c.name;
        if (!c.patched) {
            EXPECT_EQ(::GetFileAttributesW(file.c_str()), attributes) << c.name;
        }
    }
}

TEST_F(PatchDocumentTest, YieldsZeroForWhatIsNoDocument) {
    const std::wstring directory = scratch_ + L"\\folder.htm";
    ASSERT_TRUE(::CreateDirectoryW(directory.c_str(), nullptr));
    const std::wstring paths[] = {scratch_ + L"\\missing.htm", scratch_ + L"\\missing\\page.htm", directory,
                                  L""};
    for (const std::wstring& path : paths) {
        EXPECT_EQ(PatchDocument(path, inside_), 0) << std::string(path.begin(), path.end());
    }
    EXPECT_NE(::GetFileAttributesW(directory.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// Sizes from 2 GiB up can't be told as a signed 32-bit count; 4 GiB + 100 would look like 100 bytes
// to a 32-bit tell. The files are sparse: nothing but their first bytes takes room.
TEST_F(PatchDocumentTest, RefusesDocumentsOf2GiBOrMore) {
    const std::string start = kZone + "<html><head>";
    const std::int64_t sizes[] = {std::int64_t{1} << 31, (std::int64_t{1} << 32) + 100};
    for (const std::int64_t size : sizes) {
        const std::wstring path = scratch_ + L"\\large" + std::to_wstring(size) + L".htm";
        {
            UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(file);
            DWORD returned = 0;
            (void)::DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
            DWORD written = 0;
            ASSERT_TRUE(
                ::WriteFile(file.get(), start.data(), static_cast<DWORD>(start.size()), &written, nullptr));
            LARGE_INTEGER end{};
            end.QuadPart = size;
            ASSERT_TRUE(::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
            ASSERT_TRUE(::SetEndOfFile(file.get()));
            FILE_STANDARD_INFO standard{};
            ASSERT_TRUE(
                ::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard));
            ASSERT_LT(standard.AllocationSize.QuadPart, 1 << 24) << "the file system made it dense";
        }
        EXPECT_EQ(PatchDocument(path, inside_), 0) << size;

        UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        LARGE_INTEGER after{};
        ASSERT_TRUE(::GetFileSizeEx(file.get(), &after));
        EXPECT_EQ(after.QuadPart, size);
        std::string head(start.size() + 16, '?');
        DWORD read = 0;
        ASSERT_TRUE(::ReadFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr));
        EXPECT_EQ(head, start + std::string(16, '\0')) << size;
        FILE_STANDARD_INFO standard{};
        ASSERT_TRUE(::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard));
        EXPECT_LT(standard.AllocationSize.QuadPart, 1 << 24) << size;
    }
}

// Real write failures on a nearly full drive: a small RAM disk that the driver script
// patch_document_write_failure.sh mounts and maps to the drive named in ORVET_FULL_DRIVE. Each
// document ends where the drive's last allocation unit does (or just short of it), so the growth
// needs room that is not there.
class PatchDocumentFullDriveTest : public PatchDocumentTest {
  protected:
    void SetUp() override {
        const char* drive = std::getenv("ORVET_FULL_DRIVE");
        if (drive == nullptr || *drive == '\0')
            GTEST_SKIP() << "needs the full-drive driver (ORVET_FULL_DRIVE)";
        const std::string root = std::string(drive) + "\\";
        scratch_ = MakeUniqueFolder(std::wstring(root.begin(), root.end()), L"orvet-doc");
        ASSERT_FALSE(scratch_.empty());
        inside_ = {ReadFolderLocation(scratch_)};
        SYSTEM_INFO system{};
        ::GetSystemInfo(&system);
        // The RAM disk hands out room in memory pages.
        unit_ = system.dwPageSize;
    }

    // Takes every byte that is left on the drive.
    void FillDrive() {
        UniqueFileHandle filler(::CreateFileW((scratch_ + L"\\filler.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(filler);
        const std::string block(unit_, 'f');
        for (const DWORD chunk : {static_cast<DWORD>(block.size()), DWORD{1}}) {
            for (unsigned n = 0; n < (1u << 20); ++n) {
                DWORD written = 0;
                if (!::WriteFile(filler.get(), block.data(), chunk, &written, nullptr) || written != chunk)
                    break;
            }
        }
        ULARGE_INTEGER free{};
        ASSERT_TRUE(::GetDiskFreeSpaceExW(scratch_.c_str(), &free, nullptr, nullptr));
        ASSERT_EQ(free.QuadPart, 0u) << "the drive still has room";
    }

    // `length` bytes in all: `text`, then filler that the edits do not touch.
    std::string MakeSized(const std::string& text, std::size_t length) const {
        return text + std::string(length - text.size(), '.');
    }

    std::size_t unit_ = 0;
};

TEST_F(PatchDocumentFullDriveTest, LeavesTheDocumentAsItWasWhenAWriteFails) {
    const std::string head = "<html><head><title>T</title></head>";
    const std::string both = kZone + "<html><head>";
    const struct {
        const char* name;
        std::string before;
        std::string after;  // what is left: `before`, or the tag's rewrite when only the comment failed
        DWORD attributes;
        std::size_t growth;  // in all, once there is room again
    } cases[] = {
        // Room for 10 of the tag's 55 bytes: the extension fails part way.
        {"tag, partly fits", MakeSized(head, 2 * unit_ - 10), MakeSized(head, 2 * unit_ - 10),
         FILE_ATTRIBUTE_NORMAL, 55},
        {"tag, no room at all", MakeSized(head, unit_), MakeSized(head, unit_), FILE_ATTRIBUTE_NORMAL, 55},
        {"comment, no room at all", MakeSized(kZone, unit_), MakeSized(kZone, unit_), FILE_ATTRIBUTE_NORMAL,
         2},
        {"comment, one byte fits", MakeSized(kZone, unit_ - 1), MakeSized(kZone, unit_ - 1),
         FILE_ATTRIBUTE_NORMAL, 2},
        {"read-only, tag, no room", MakeSized(head, unit_), MakeSized(head, unit_), kReadOnly, 55},
        // Room for the tag but not for the 2 more bytes of the comment: the tag stays.
        {"both, room for the tag only", MakeSized(both, unit_ - 56),
         both + kTag + std::string(unit_ - 56 - both.size(), '.'), FILE_ATTRIBUTE_NORMAL, 57},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = MakeDocument(c.before, c.attributes);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        FillDrive();
        if (HasFatalFailure()) return;

        EXPECT_EQ(PatchDocument(path, inside_), 0);
        const std::string left = ReadFileBytes(path).value_or("<unreadable>");
        EXPECT_EQ(left.size(), c.after.size());
        EXPECT_TRUE(left == c.after)
            << "the bytes differ from offset "
            << std::distance(left.begin(),
                             std::mismatch(left.begin(), left.end(), c.after.begin(), c.after.end()).first);
        // Attribute rules of a failed patch: a cleared read-only bit stays cleared, the others stay. Wine,
        // run as root, opens a read-only file for writing, so there the bit was never cleared.
        const DWORD now = ::GetFileAttributesW(path.c_str());
        EXPECT_EQ(WithoutArchiveBit(now) & ~kReadOnly, WithoutArchiveBit(attributes) & ~kReadOnly);
        if (!machine::RunsUnderWine()) {
            EXPECT_EQ(now & kReadOnly, 0u);
        }

        ASSERT_TRUE(::DeleteFileW((scratch_ + L"\\filler.bin").c_str()));
        // With room again, the same document is patched to the end.
        EXPECT_EQ(PatchDocument(path, inside_), 1);
        EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>").size(), c.before.size() + c.growth);
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(::DeleteFileW(path.c_str()));
    }
}

}  // namespace
