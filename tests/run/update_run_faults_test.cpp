// The update run in this process, once for every call it makes of each function below, with that one
// call failing. Afterwards every page holds its old or its patched bytes (a page that needs both
// changes may keep the tag alone, as a failed second change leaves it), the read-only bit is back
// unless that page's own patch failed, no file or folder came or went, and the exit code, the stamp and
// the notice are what the function's row says. The machine's directory link comes from
// update_run_faults.sh under Wine, which makes no junctions, and from the test itself on Windows.
#include <windows.h>

#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "faults.h"
#include "machine.h"
#include "unique_handle.h"
#include "update_run.h"

// What the run reports: its exit code, whether the stamp was written and the notice asked for.
struct Outcome {
    int exitCode;
    bool stamp;
    bool notice;
};
constexpr Outcome kDone{0, true, true};
constexpr Outcome kNotEligible{1, false, false};
constexpr Outcome kNoStamp{0, false, true};
constexpr Outcome kNoNotice{0, true, false};

// Each function: how it is wrapped, what it returns when it fails, the error it fails with, and what
// the run reports when its first call fails and when a later one does.
#define ORVET_RUN_FAULTS(IMPORT, HOOK, DIRECT)                                                              \
    IMPORT(GetVersionExW, "@4", FALSE, ERROR_INVALID_PARAMETER, kNotEligible, kNotEligible)                 \
    /* The Manual record's key, then the updater's. */                                                      \
    IMPORT(RegOpenKeyExW, "@20", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kNotEligible, kDone)             \
    IMPORT(RegQueryValueExW, "@24", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, kNotEligible, kNotEligible) \
    IMPORT(RegCloseKey, "@4", ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE, kDone, kDone)                     \
    IMPORT(RegCreateKeyExW, "@36", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kNoStamp, kNoStamp)            \
    IMPORT(RegSetValueExW, "@24", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kNoStamp, kNoStamp)             \
    IMPORT(GetModuleHandleW, "@4", nullptr, ERROR_MOD_NOT_FOUND, kDone, kDone)                              \
    IMPORT(GetProcAddress, "@8", nullptr, ERROR_PROC_NOT_FOUND, kDone, kDone)                               \
    DIRECT(SHGetKnownFolderPath, "@16", 0, ERROR_FILE_NOT_FOUND, kDone, kDone)                              \
    IMPORT(PathFileExistsW, "@4", FALSE, ERROR_ACCESS_DENIED, kDone, kDone)                                 \
    IMPORT(FindFirstFileW, "@8", INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED, kDone, kDone)                   \
    IMPORT(FindNextFileW, "@8", FALSE, ERROR_ACCESS_DENIED, kDone, kDone)                                   \
    IMPORT(FindClose, "@4", FALSE, ERROR_INVALID_HANDLE, kDone, kDone)                                      \
    IMPORT(CreateFileW, "@28", INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED, kDone, kDone)                     \
    /* Then the 64-bit file index stands in. */                                                             \
    IMPORT(GetFileInformationByHandleEx, "@16", FALSE, ERROR_INVALID_PARAMETER, kDone, kDone)               \
    IMPORT(CloseHandle, "@4", FALSE, ERROR_INVALID_HANDLE, kDone, kDone)                                    \
    IMPORT(GetFileAttributesW, "@4", INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED, kDone, kDone)            \
    IMPORT(SetFileAttributesW, "@8", FALSE, ERROR_ACCESS_DENIED, kDone, kDone)                              \
    IMPORT(_wfsopen, "", nullptr, ERROR_SHARING_VIOLATION, kDone, kDone)                                    \
    DIRECT(setvbuf, "", 0, ERROR_NOT_ENOUGH_MEMORY, kDone, kDone)                                           \
    IMPORT(GetFileSizeEx, "@8", FALSE, ERROR_INVALID_FUNCTION, kDone, kDone)                                \
    DIRECT(fread, "", 0, ERROR_READ_FAULT, kDone, kDone)                                                    \
    DIRECT(fseek, "", 0, ERROR_SEEK, kDone, kDone)                                                          \
    DIRECT(fwrite, "", 0, ERROR_DISK_FULL, kDone, kDone)                                                    \
    IMPORT(GetCPInfo, "@8", FALSE, ERROR_INVALID_PARAMETER, kDone, kDone)                                   \
    IMPORT(FindResourceExW, "@16", nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND, kNoNotice, kNoNotice)            \
    IMPORT(FindResourceW, "@12", nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND, kNoNotice, kNoNotice)              \
    IMPORT(LoadResource, "@8", nullptr, ERROR_RESOURCE_DATA_NOT_FOUND, kNoNotice, kNoNotice)                \
    IMPORT(LockResource, "@4", nullptr, ERROR_RESOURCE_DATA_NOT_FOUND, kNoNotice, kNoNotice)                \
    IMPORT(SizeofResource, "@8", 0, ERROR_RESOURCE_DATA_NOT_FOUND, kNoNotice, kNoNotice)                    \
    HOOK(MessageBoxW, "@16", 0, ERROR_NOT_ENOUGH_MEMORY, kDone, kDone)

#define ORVET_WRAP_IMPORT(name, decoration, failure, ...) ORVET_FAULT_IMPORT(name, decoration, failure)
#define ORVET_WRAP_HOOK(name, decoration, ...) ORVET_FAULT_HOOK(name, decoration)
#define ORVET_WRAP_DIRECT(name, decoration, ...) ORVET_FAULT_DIRECT(name, decoration)
ORVET_RUN_FAULTS(ORVET_WRAP_IMPORT, ORVET_WRAP_HOOK, ORVET_WRAP_DIRECT)

// The box is never shown here: the run would wait for it.
int WINAPI ShowNoBox(HWND, LPCWSTR, LPCWSTR, UINT) {
    return faults::Passes("MessageBoxW") ? IDOK : 0;
}
decltype(&::MessageBoxW) Wrap_MessageBoxW = &ShowNoBox;
HRESULT WINAPI Wrap_SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path) {
    if (faults::Passes("SHGetKnownFolderPath")) return Real_SHGetKnownFolderPath(id, flags, token, path);
    *path = nullptr;
    return HRESULT_FROM_WIN32(::GetLastError());
}
int Wrap_setvbuf(FILE* stream, char* buffer, int mode, size_t size) {
    return faults::Passes("setvbuf") ? Real_setvbuf(stream, buffer, mode, size) : -1;
}
int Wrap_fseek(FILE* stream, long offset, int origin) {
    return faults::Passes("fseek") ? Real_fseek(stream, offset, origin) : -1;
}
size_t Wrap_fread(void* buffer, size_t size, size_t count, FILE* stream) {
    return faults::Passes("fread", &count) ? Real_fread(buffer, size, count, stream) : 0;
}
size_t Wrap_fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
    return faults::Passes("fwrite", &count) ? Real_fwrite(buffer, size, count, stream) : 0;
}

namespace {

const std::string kZone = "<!-- saved from url=(0014)about:internet -->";
const std::string kLocal = "<!-- saved from url=(0016)http://localhost -->";
const std::string kTag = "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\" />";

struct Page {
    int row;
    const wchar_t* name;
    std::string before;
    std::string after;
    std::string tagOnly;  // where a failed second change may leave it
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
};

// Each folder's last entry patches well, so that one failure anywhere leaves the notice to the others.
// UpdatedManual also holds zlink, the script's link to its sub.
const Page kPages[] = {
    {1, L"sub\\both.html", kZone + "<head>", kLocal + "<head>" + kTag, kZone + "<head>" + kTag},
    {1, L"tag.htm", "<head></head>", "<head>" + kTag + "</head>", {}},
    {2, L"zone.htm", kZone, kLocal, {}},
    {3, L"readonly.htm", "<HEAD>", "<HEAD>" + kTag, {}, FILE_ATTRIBUTE_READONLY},
    {4, L"current.html", "<head>" + kTag + kLocal, "<head>" + kTag + kLocal, {}},
    {4, L"sub\\deep.htm", "<head>", "<head>" + kTag, {}},
};

std::wstring GetPagePath(const Page& page) {
    return machine::GetManualFolder(page.row) + L'\\' + page.name;
}

// Every file and folder below `folder`; links are listed, not followed.
void ListTree(const std::wstring& folder, std::set<std::wstring>& paths) {
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        paths.insert(folder + L'\\' + name);
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY) {
            ListTree(folder + L'\\' + name, paths);
        }
    } while (::FindNextFileW(listing.get(), &entry));
}

std::set<std::wstring> ListMachine() {
    std::set<std::wstring> paths;
    for (int row = 1; row <= 4; ++row) ListTree(machine::GetManualFolder(row), paths);
    return paths;
}

// Runs the update with `function`'s `failAt`-th call failing and checks what the run left.
void RunWithFault(const std::string& function, int failAt, DWORD error, bool shortened,
                  const Outcome& expected) {
    (void)::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, machine::kStampRecord, machine::kNativeView, 0);
    std::vector<DWORD> attributes;
    for (const Page& page : kPages) {
        const std::wstring path = GetPagePath(page);
        (void)::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(WriteFileBytes(path, page.before));
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), page.attributes));
        attributes.push_back(::GetFileAttributesW(path.c_str()));
    }
    const std::set<std::wstring> paths = ListMachine();
    faults::Arm(function.c_str(), failAt, error, shortened);
    const int exitCode = RunUpdate();
    faults::Disarm();

    EXPECT_EQ(exitCode, expected.exitCode);
    EXPECT_EQ(faults::CountCalls("MessageBoxW") > 0, expected.notice) << "notice";
    DWORD type = 0;
    std::vector<BYTE> stamp;
    EXPECT_EQ(machine::ReadValue(machine::kStampRecord, machine::kNativeView, L"version", type, stamp) == 0,
              expected.stamp)
        << "stamp";
    for (std::size_t i = 0; i < std::size(kPages); ++i) {
        const Page& page = kPages[i];
        const std::string bytes = ReadFileBytes(GetPagePath(page)).value_or("<unreadable>");
        EXPECT_TRUE(bytes == page.before || bytes == page.after ||
                    (!page.tagOnly.empty() && bytes == page.tagOnly))
            << page.row << bytes;
        const DWORD now = ::GetFileAttributesW(GetPagePath(page).c_str());
        const DWORD cleared = attributes[i] & ~now & FILE_ATTRIBUTE_READONLY;
        EXPECT_EQ(WithoutArchiveBit(now | cleared), WithoutArchiveBit(attributes[i])) << page.row << bytes;
        // Only the failed write-back leaves the bit cleared on a page whose patch went through.
        EXPECT_TRUE(!cleared || bytes != page.after || function == "SetFileAttributesW") << "read-only bit";
    }
    EXPECT_EQ(ListMachine(), paths) << "files or folders came or went";
}

// UpdatedManual's link zlink to its sub, so that the walk reads identities.
void MakeIdentityLink() {
    const std::wstring folder = machine::GetManualFolder(4);
    if (::GetFileAttributesW((folder + L"\\zlink").c_str()) != INVALID_FILE_ATTRIBUTES) return;
    if (machine::RunsUnderWine())
        GTEST_SKIP() << "no directory link: update_run_faults.sh makes it under Wine";
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, (folder + L"\\sub").c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(MakeJunction(folder + L"\\zlink", folder + L"\\sub")) << "error " << ::GetLastError();
}

TEST(UpdateRunFaultTest, NoFailingCallLosesAPageOrChangesWhatTheRunReports) {
    if (!machine::ReportsWorkstation())
        GTEST_SKIP() << "Windows Server: the gate refuses the machine, as the end-to-end tests check";
    ASSERT_NO_FATAL_FAILURE(MakeIdentityLink());
    if (IsSkipped()) return;
    ASSERT_EQ(
        machine::WriteRecord(machine::kManualRecord, machine::kNativeView, std::wstring(L"3.0.0.08100")),
        ERROR_SUCCESS);
    (void)::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, machine::kUpdaterKey, machine::kNativeView, 0);
    struct Row {
        std::string function;
        DWORD error;
        Outcome first;
        Outcome later;
        bool shortened = false;
    };
#define ORVET_ROW(name, decoration, failure, error, first, later) {#name, error, first, later},
    const std::vector<Row> rows = {
        ORVET_RUN_FAULTS(ORVET_ROW, ORVET_ROW, ORVET_ROW){"fread", 0, kDone, kDone, true},
        {"fwrite", 0, kDone, kDone, true}};
    RunWithFault("", 0, 0, false, kDone);  // counts the calls
    std::map<std::string, int> calls;
    for (const Row& row : rows) calls[row.function] = faults::CountCalls(row.function.c_str());
    ASSERT_GT(calls["GetFileInformationByHandleEx"], 0)
        << "no identity was read: no link (update_run_faults.sh)";

    int runs = 0;
    for (const Row& row : rows) {
        for (int k = 1; k <= calls[row.function]; ++k, ++runs) {
            SCOPED_TRACE(row.function + (row.shortened ? " shortened" : "") + ", call " + std::to_string(k));
            RunWithFault(row.function, k, row.error, row.shortened, k == 1 ? row.first : row.later);
        }
    }
    std::printf("%d runs, each with one call failing\n", runs);
    (void)machine::ClearMachine();  // all but the link, which only the script can remove
}

}  // namespace
