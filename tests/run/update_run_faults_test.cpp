// The update run in this process, once for every call it makes of each function below, with that one
// call failing. Afterwards every document holds its old or its patched bytes (a document that needs both
// changes may keep the tag alone, as a failed second change leaves it), the read-only bit is back
// unless that document's own patch failed, no file or folder came or went, and the exit code, the stamp and
// the notice are what the function's row says. The machine's directory link comes from
// update_run_faults.sh under Wine, which makes no junctions, and from the test itself on Windows.
#include <windows.h>

#include <shlobj.h>
#include <winioctl.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "faults.h"
#include "fixed_texts.h"
#include "handles.h"
#include "machine.h"
#include "patch.h"
#include "text.h"
#include "unique_handle.h"
#include "update_run.h"

extern "C" NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                                     PUNICODE_STRING);

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

constexpr NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);  // STATUS_ACCESS_DENIED

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
    IMPORT(CreateFileW, "@28", INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED, kDone, kDone)                     \
    /* Every entry's open; a document's refused for writing is opened for its attributes. */                \
    HOOK(NtCreateFile, "@44", kAccessDenied, ERROR_ACCESS_DENIED, kDone, kDone)                             \
    IMPORT(DuplicateHandle, "@28", FALSE, ERROR_INVALID_HANDLE, kDone, kDone)                               \
    IMPORT(DeviceIoControl, "@32", FALSE, ERROR_INVALID_FUNCTION, kDone, kDone)                             \
    /* Listings, kinds, sizes and ids; for an id the 64-bit file index then stands in. */                   \
    IMPORT(GetFileInformationByHandleEx, "@16", FALSE, ERROR_INVALID_PARAMETER, kDone, kDone)               \
    HOOK(CloseHandle, "@4", FALSE, ERROR_INVALID_HANDLE, kDone, kDone)                                      \
    /* The known folders made canonical: the first is the Windows folder's. */                              \
    IMPORT(GetFullPathNameW, "@16", 0, ERROR_INVALID_NAME, kDone, kDone)                                    \
    IMPORT(GetFinalPathNameByHandleW, "@16", 0, ERROR_NOT_ENOUGH_MEMORY, kDone, kDone)                      \
    IMPORT(SetFileInformationByHandle, "@16", FALSE, ERROR_ACCESS_DENIED, kDone, kDone)                     \
    IMPORT(ReOpenFile, "@16", INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION, kDone, kDone)                  \
    IMPORT(GetFileSizeEx, "@8", FALSE, ERROR_INVALID_FUNCTION, kDone, kDone)                                \
    HOOK(ReadFile, "@20", FALSE, ERROR_READ_FAULT, kDone, kDone)                                            \
    IMPORT(SetFilePointerEx, "@20", FALSE, ERROR_SEEK, kDone, kDone)                                        \
    HOOK(WriteFile, "@20", FALSE, ERROR_DISK_FULL, kDone, kDone)                                            \
    IMPORT(SetEndOfFile, "@4", FALSE, ERROR_DISK_FULL, kDone, kDone)                                        \
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

namespace {

// Known folders the test names in place of the machine's, when not empty.
std::wstring redirectedWindows;
std::wstring redirectedProgramData;
// A document whose folder the test tries to swap, at the document's open for writing, for `spareFolder`,
// which holds a file link of the document's name to a document outside: its folder would go aside and
// `spareFolder` take its name.
std::wstring swapFolder;
std::wstring spareFolder;
bool swapped = false;

// A folder that a standard user's token turns into a junction to `junctionTarget` at its first open,
// after its folder was listed: it goes aside, and a junction takes its name.
std::wstring junctionFolder;
std::wstring junctionTarget;
HANDLE junctionToken = nullptr;
bool junctionMade = false;

void SwapForJunction(const std::wstring& name) {
    if (junctionFolder.empty() || name != junctionFolder.substr(junctionFolder.rfind(L'\\') + 1)) return;
    if (::ImpersonateLoggedOnUser(junctionToken)) {
        junctionMade = ::MoveFileW(junctionFolder.c_str(), (junctionFolder + L".real").c_str()) &&
                       MakeJunction(junctionFolder, junctionTarget);
        (void)::RevertToSelf();
    }
    junctionFolder.clear();
}

void SwapAtTheOpen(const std::wstring& name) {
    if (swapFolder.empty() || name != L"page.htm") return;
    swapped = ::MoveFileW(swapFolder.c_str(), (swapFolder + L".real").c_str()) &&
              ::MoveFileW(spareFolder.c_str(), swapFolder.c_str());
    swapFolder.clear();
}

}  // namespace

// The box is never shown here: the run would wait for it.
int WINAPI ShowNoBox(HWND, LPCWSTR, LPCWSTR, UINT) {
    return faults::Passes("MessageBoxW") ? IDOK : 0;
}
decltype(&::MessageBoxW) Wrap_MessageBoxW = &ShowNoBox;
HRESULT WINAPI Wrap_SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path) {
    if (!faults::Passes("SHGetKnownFolderPath")) {
        *path = nullptr;
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    const std::wstring& redirected = IsEqualGUID(id, FOLDERID_Windows)       ? redirectedWindows
                                     : IsEqualGUID(id, FOLDERID_ProgramData) ? redirectedProgramData
                                                                             : std::wstring();
    if (redirected.empty()) return Real_SHGetKnownFolderPath(id, flags, token, path);
    const std::size_t bytes = (redirected.size() + 1) * sizeof(wchar_t);
    *path = static_cast<PWSTR>(::CoTaskMemAlloc(bytes));
    if (*path == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*path, redirected.c_str(), bytes);
    return S_OK;
}
// Windows opens no read-only file for writing; Wine, run as root, does. Refused here as Windows refuses
// it, so that a read-only document takes the branch it takes there: its bit cleared, the document opened
// again through its handle, patched, and the bit put back.
NTSTATUS NTAPI OpenAsWindowsOrFail(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                   PIO_STATUS_BLOCK io, PLARGE_INTEGER allocation, ULONG attributes,
                                   ULONG share, ULONG disposition, ULONG options, PVOID ea, ULONG eaLength) {
    const std::wstring name(object->ObjectName->Buffer, object->ObjectName->Length / sizeof(wchar_t));
    const bool writing = (access & GENERIC_WRITE) != 0;
    if (writing) SwapAtTheOpen(name);
    if ((options & FILE_DIRECTORY_FILE) != 0) SwapForJunction(name);
    if (!faults::Passes("NtCreateFile")) return kAccessDenied;
    const NTSTATUS status = Real_NtCreateFile(handle, access, object, io, allocation, attributes, share,
                                              disposition, options, ea, eaLength);
    if (status != 0 || !writing) return status;
    FILE_BASIC_INFO basic{};
    if (Real_GetFileInformationByHandleEx(*handle, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        (void)Real_CloseHandle(*handle);
        *handle = nullptr;
        return kAccessDenied;
    }
    return status;
}
decltype(&::NtCreateFile) Wrap_NtCreateFile = &OpenAsWindowsOrFail;
// A failing close still releases the handle, as the platform's does.
BOOL WINAPI CloseAndFail(HANDLE handle) {
    const BOOL closed = Real_CloseHandle(handle);
    return faults::Passes("CloseHandle") ? closed : FALSE;
}
decltype(&::CloseHandle) Wrap_CloseHandle = &CloseAndFail;
// Reads and writes may also fail by moving one byte less.
BOOL WINAPI ReadOrFail(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
    std::size_t count = size;
    if (!faults::Passes("ReadFile", &count)) return FALSE;
    return Real_ReadFile(file, buffer, static_cast<DWORD>(count), read, overlapped);
}
decltype(&::ReadFile) Wrap_ReadFile = &ReadOrFail;
BOOL WINAPI WriteOrFail(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    std::size_t count = size;
    if (!faults::Passes("WriteFile", &count)) return FALSE;
    return Real_WriteFile(file, buffer, static_cast<DWORD>(count), written, overlapped);
}
decltype(&::WriteFile) Wrap_WriteFile = &WriteOrFail;

namespace {

struct Document {
    int row;
    const wchar_t* name;
    std::string before;
    std::string after;
    std::string tagOnly;  // where a failed second change may leave it
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
};

// Each folder's last entry patches well, so that one failure anywhere leaves the notice to the others.
// The machine's links (update_run_faults.sh): UpdatedManual's zlink to its sub; BasicManual's out, link.htm
// (on Windows: Wine shows a file link as the file it leads to) and hard.htm, which lead to the documents
// outside below; Localsite's to-extra and to-shared, listed last,
// which lead to a dot folder of BasicManual and to a folder of the maker's, each reached only that way.
const Document kDocuments[] = {
    {1, L"sub\\both.html", kZone + "<head>", kLocal + "<head>" + kTag, kZone + "<head>" + kTag},
    {1, L"tag.htm", "<head></head>", "<head>" + kTag + "</head>", {}},
    {2, L"zone.htm", kZone, kLocal, {}},
    {3, L"readonly.htm", "<HEAD>", "<HEAD>" + kTag, {}, FILE_ATTRIBUTE_READONLY},
    {3, L"to-extra\\extra.htm", kZone, kLocal, {}},
    {3, L"to-shared\\shared.htm", "<head>", "<head>" + kTag, {}},
    {4, L"current.html", "<head>" + kTag + kLocal, "<head>" + kTag + kLocal, {}},
    {4, L"sub\\deep.htm", "<head>", "<head>" + kTag, {}},
};

// Documents outside the maker's folders that links in a manual folder lead to, as a standard user may plant
// them: the run must leave their bytes and attributes as they are, whatever fails.
struct OutsideDocument {
    const wchar_t* name;  // below C:\outside
    DWORD attributes;
};
const std::string kOutsideBytes = kZone + "<html><head></head></html>";
const OutsideDocument kOutsideDocuments[] = {
    {L"linked.htm", FILE_ATTRIBUTE_READONLY},  // BasicManual\link.htm, a file link
    {L"hard.htm", FILE_ATTRIBUTE_READONLY},    // BasicManual\hard.htm, a hard link
    {L"swapped.htm", 0},                       // also reached through BasicManual\out, a directory link
};

std::wstring GetDocumentPath(const Document& document) {
    return machine::GetManualFolder(document.row) + L'\\' + document.name;
}

std::wstring GetOutsidePath(const OutsideDocument& document) {
    return machine::GetManualFolder(1).substr(0, 3) + L"outside\\" + document.name;
}

void WriteOutsideDocuments() {
    for (const OutsideDocument& document : kOutsideDocuments) {
        const std::wstring path = GetOutsidePath(document);
        (void)::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(WriteFileBytes(path, kOutsideBytes)) << Narrow(path);
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), document.attributes | FILE_ATTRIBUTE_ARCHIVE));
    }
}

void ExpectOutsideDocumentsUnchanged() {
    for (const OutsideDocument& document : kOutsideDocuments) {
        const std::wstring path = GetOutsidePath(document);
        EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"), kOutsideBytes) << Narrow(path);
        EXPECT_EQ(WithoutArchiveBit(::GetFileAttributesW(path.c_str())),
                  WithoutArchiveBit(document.attributes))
            << Narrow(path);
    }
}

// Every file and folder below `folder`; links are listed, not followed.
void ListTree(const std::wstring& folder, std::set<std::wstring>& paths) {
    for (const WIN32_FIND_DATAW& entry : ListFolder(folder)) {
        const std::wstring path = folder + L'\\' + entry.cFileName;
        paths.insert(path);
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY) {
            ListTree(path, paths);
        }
    }
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
    for (const Document& document : kDocuments) {
        const std::wstring path = GetDocumentPath(document);
        (void)::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(WriteFileBytes(path, document.before));
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), document.attributes));
        attributes.push_back(::GetFileAttributesW(path.c_str()));
    }
    ASSERT_NO_FATAL_FAILURE(WriteOutsideDocuments());
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
    for (std::size_t i = 0; i < std::size(kDocuments); ++i) {
        const Document& document = kDocuments[i];
        const std::string bytes = ReadFileBytes(GetDocumentPath(document)).value_or("<unreadable>");
        EXPECT_TRUE(bytes == document.before || bytes == document.after ||
                    (!document.tagOnly.empty() && bytes == document.tagOnly))
            << document.row << bytes;
        if (function.empty()) {
            EXPECT_EQ(bytes, document.after) << "no call failed";
        }
        const DWORD now = ::GetFileAttributesW(GetDocumentPath(document).c_str());
        const DWORD cleared = attributes[i] & ~now & FILE_ATTRIBUTE_READONLY;
        EXPECT_EQ(WithoutArchiveBit(now | cleared), WithoutArchiveBit(attributes[i]))
            << document.row << bytes;
        // Only the failed write-back leaves the bit cleared on a document whose patch went through.
        EXPECT_TRUE(!cleared || bytes != document.after || function == "SetFileInformationByHandle")
            << "read-only bit";
    }
    EXPECT_EQ(ListMachine(), paths) << "files or folders came or went";
    ExpectOutsideDocumentsUnchanged();
}

// The machine's links: the script makes them under Wine, which makes none; on Windows they are made here.
void MakeMachineLinks() {
    const std::wstring basic = machine::GetManualFolder(2);
    const std::wstring local = machine::GetManualFolder(3);
    const std::wstring updated = machine::GetManualFolder(4);
    if (::GetFileAttributesW((updated + L"\\zlink").c_str()) != INVALID_FILE_ATTRIBUTES) return;
    if (machine::RunsUnderWine()) GTEST_SKIP() << "no links: update_run_faults.sh makes them under Wine";
    const std::wstring outside = basic.substr(0, 3) + L"outside";
    const std::wstring shared = local.substr(0, local.rfind(L"\\Orvet Care")) + L"\\Shared";
    for (const std::wstring& folder : {updated + L"\\sub", basic + L"\\.extra", local, shared, outside})
        ASSERT_EQ(::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS) << Narrow(folder);
    for (const OutsideDocument& document : kOutsideDocuments)
        ASSERT_TRUE(WriteFileBytes(GetOutsidePath(document), ""));
    ASSERT_TRUE(MakeJunction(updated + L"\\zlink", updated + L"\\sub")) << ::GetLastError();
    ASSERT_TRUE(MakeJunction(basic + L"\\out", outside)) << ::GetLastError();
    ASSERT_TRUE(MakeJunction(local + L"\\to-extra", basic + L"\\.extra")) << ::GetLastError();
    ASSERT_TRUE(MakeJunction(local + L"\\to-shared", shared)) << ::GetLastError();
    ASSERT_TRUE(
        ::CreateSymbolicLinkW((basic + L"\\link.htm").c_str(), (outside + L"\\linked.htm").c_str(), 0))
        << ::GetLastError();
    ASSERT_TRUE(
        ::CreateHardLinkW((basic + L"\\hard.htm").c_str(), (outside + L"\\hard.htm").c_str(), nullptr))
        << ::GetLastError();
}

// What the script leaves to the test on Windows: the folders outside and of the maker's that the machine's
// links lead to.
void ClearMachineLinks() {
    if (machine::RunsUnderWine()) return;
    const std::wstring local = machine::GetManualFolder(3);
    for (const OutsideDocument& document : kOutsideDocuments)
        (void)::SetFileAttributesW(GetOutsidePath(document).c_str(), FILE_ATTRIBUTE_NORMAL);
    (void)DeleteTree(local.substr(0, 3) + L"outside");
    (void)DeleteTree(local.substr(0, local.rfind(L"\\Orvet Care")) + L"\\Shared");
}

// Eligible, and started by a user, so that the notice is asked for.
void MakeEligible() {
    ASSERT_TRUE(machine::MakeEligible());
    (void)::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, machine::kUpdaterKey, machine::kNativeView, 0);
}

TEST(UpdateRunFaultTest, NoFailingCallLosesADocumentOrChangesWhatTheRunReports) {
    if (!machine::ReportsWorkstation())
        GTEST_SKIP() << "Windows Server: the gate refuses the machine, as the end-to-end tests check";
    ASSERT_NO_FATAL_FAILURE(MakeMachineLinks());
    if (IsSkipped()) return;
    ASSERT_NO_FATAL_FAILURE(MakeEligible());
    struct Row {
        std::string function;
        DWORD error;
        Outcome first;
        Outcome later;
        bool shortened = false;
    };
#define ORVET_ROW(name, decoration, failure, error, first, later) {#name, error, first, later},
    const std::vector<Row> rows = {
        ORVET_RUN_FAULTS(ORVET_ROW, ORVET_ROW, ORVET_ROW){"ReadFile", 0, kDone, kDone, true},
        {"WriteFile", 0, kDone, kDone, true}};
    RunWithFault("", 0, 0, false, kDone);  // counts the calls
    std::map<std::string, int> calls;
    for (const Row& row : rows) calls[row.function] = faults::CountCalls(row.function.c_str());
    ASSERT_GT(calls["DeviceIoControl"], 0) << "no link was read: no link (update_run_faults.sh)";

    int runs = 0;
    for (const Row& row : rows) {
        for (int k = 1; k <= calls[row.function]; ++k, ++runs) {
            SCOPED_TRACE(row.function + (row.shortened ? " shortened" : "") + ", call " + std::to_string(k));
            RunWithFault(row.function, k, row.error, row.shortened, k == 1 ? row.first : row.later);
        }
    }
    std::printf("%d runs, each with one call failing\n", runs);
    ClearMachineLinks();
    (void)machine::ClearMachine();  // all but the links, which only the script can remove under Wine
}

// The run on the script's drives A and B, named as the Windows and ProgramData folders in place of the
// machine's: a row is walked only where its maker's folder is what its path says, whatever form the
// known folder's path takes, and nothing outside the maker's folders changes.
TEST(UpdateRunFaultTest, WritesOnlyWhereTheMakersFoldersAre) {
    const std::wstring a = GetEnvironmentText(L"ORVET_DRIVE_A");
    const std::wstring b = GetEnvironmentText(L"ORVET_DRIVE_B");
    if (a.empty() || b.empty()) GTEST_SKIP() << "needs update_run_faults.sh's drives (ORVET_DRIVE_A)";
    ASSERT_NO_FATAL_FAILURE(MakeEligible());
    struct File {
        std::wstring path;
        bool patched;
    };
    // On A: Documentation is a link, BasicManual's last entry a link out, Localsite a link out and
    // UpdatedManual a link to a folder of the maker's. On B: the user guide folder and the maker's
    // ProgramData folder are links.
    const std::wstring care = L"\\ProgramData\\Halvern Corporation\\Orvet Care\\";
    const std::vector<File> filesA = {{a + L"\\elsewhere\\Orvet User Guide\\guide.htm", false},
                                      {a + care + L"BasicManual\\basic.htm", true},
                                      {a + L"\\outside\\out.htm", false},
                                      {a + L"\\ProgramData\\Halvern Corporation\\Shared\\shared.htm", true}};
    const std::vector<File> filesB = {{b + L"\\outside-guide\\g.htm", false},
                                      {b + L"\\other-maker\\Orvet Care\\BasicManual\\b.htm", false}};
    const struct {
        std::wstring programData;
        const std::vector<File>& files;
        bool notice;
    } cases[] = {
        {a + L"\\ProgramData", filesA, true},
        // Redirections an administrator may write: the same folder.
        {a + L"\\ProgramData\\", filesA, true},
        {a + L"\\.\\ProgramData", filesA, true},
        {a + L"\\Windows\\..\\ProgramData", filesA, true},
        {b + L"\\ProgramData", filesB, false},
    };
    const std::string before = kZone + "<head>";
    const std::string after = kLocal + "<head>" + kTag;
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.programData));
        for (const File& file : c.files) ASSERT_TRUE(WriteFileBytes(file.path, before)) << Narrow(file.path);
        redirectedWindows = c.programData.substr(0, 2) + L"\\Windows";
        redirectedProgramData = c.programData;
        faults::Arm("", 0, 0);  // counts the notice
        const int exitCode = RunUpdate();
        faults::Disarm();
        redirectedWindows.clear();
        redirectedProgramData.clear();

        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(faults::CountCalls("MessageBoxW") > 0, c.notice) << "notice";
        for (const File& file : c.files) {
            EXPECT_EQ(ReadFileBytes(file.path).value_or("<unreadable>"), file.patched ? after : before)
                << Narrow(file.path);
        }
    }
}

// A standard user who swaps a document's folder, after the walk listed it and just before the document is
// opened, for one whose document of that name is a link to a document outside: the folder is held open,
// without leave to delete, and can't be renamed, so the document is opened relative to the folder the walk
// listed.
TEST(UpdateRunFaultTest, AFolderCannotBeSwappedWhileItsDocumentsAreOpened) {
    const std::wstring care = machine::GetManualFolder(2).substr(0, machine::GetManualFolder(2).rfind(L'\\'));
    const std::wstring folder = care + L"\\swap";
    const OutsideDocument& target = kOutsideDocuments[2];
    if (::GetFileAttributesW((care + L"\\.spare").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "needs update_run_faults.sh's spare link (Wine moves a link's target, not the link)";
    ASSERT_NO_FATAL_FAILURE(WriteOutsideDocuments());
    ASSERT_TRUE(WriteFileBytes(folder + L"\\page.htm", "<head>"));
    swapFolder = folder;
    spareFolder = care + L"\\.spare";
    swapped = false;
    const std::wstring maker = care.substr(0, care.rfind(L'\\'));
    const int result = PatchFolderTree(folder, {ReadFolderLocation(maker)});
    swapFolder.clear();

    EXPECT_FALSE(swapped) << "the folder was renamed while it was held";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadFileBytes(folder + L"\\page.htm").value_or("<unreadable>"), "<head>" + kTag);
    EXPECT_EQ(ReadFileBytes(GetOutsidePath(target)).value_or("<unreadable>"), kOutsideBytes);
}

// The administrator's own token with its Administrators group for deny only and no privileges: a standard
// user's rights, for planting what a standard user may. Empty when the platform can't make one.
UniqueKernelHandle MakeStandardUserToken() {
    UniqueKernelHandle own;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_IMPERSONATE,
                            own.put()))
        return {};
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) return {};
    SID_AND_ATTRIBUTES denied{administrators, 0};
    UniqueKernelHandle restricted;
    if (!::CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 1, &denied, 0, nullptr, 0, nullptr,
                                 restricted.put()))
        return {};
    return restricted;
}

// What a standard user plants in a manual folder on Windows, where any user may: a junction of their own,
// and an empty folder the installer made turned into one, both leading out. The run follows neither.
TEST(UpdateRunFaultTest, JunctionsAStandardUserPlantsLeadNowhere) {
    if (!machine::ReportsWorkstation())
        GTEST_SKIP() << "Windows Server: the gate refuses the machine, as the end-to-end tests check";
    const std::wstring basic = machine::GetManualFolder(2);
    const std::wstring outside = basic.substr(0, 3) + L"outside-planted";
    const std::wstring document = basic + L"\\page.htm";
    const std::wstring installerMade = basic + L"\\empty";
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, installerMade.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(WriteFileBytes(document, kOutsideBytes));
    ASSERT_TRUE(WriteFileBytes(outside + L"\\target.htm", kOutsideBytes));
    ASSERT_TRUE(::SetFileAttributesW((outside + L"\\target.htm").c_str(), FILE_ATTRIBUTE_READONLY));
    const UniqueKernelHandle user = MakeStandardUserToken();
    ASSERT_TRUE(user) << ::GetLastError();
    bool planted = false;
    DWORD error = 0;
    ASSERT_TRUE(::ImpersonateLoggedOnUser(user.get())) << ::GetLastError();
    planted = MakeJunction(basic + L"\\a-planted", outside) && TurnIntoJunction(installerMade, outside);
    error = ::GetLastError();
    ASSERT_TRUE(::RevertToSelf());
    const auto clear = [&] {
        (void)::SetFileAttributesW((outside + L"\\target.htm").c_str(), FILE_ATTRIBUTE_NORMAL);
        (void)DeleteTree(outside);
        (void)machine::ClearMachine();
    };
    if (!planted && machine::RunsUnderWine()) {
        clear();
        GTEST_SKIP() << "Wine makes no junctions (error " << error << ")";
    }
    ASSERT_TRUE(planted) << "a standard user's junction: error " << error;
    ASSERT_NO_FATAL_FAILURE(MakeEligible());

    EXPECT_EQ(RunUpdate(), 0);
    EXPECT_EQ(ReadFileBytes(document).value_or("<unreadable>"),
              kLocal + "<html><head>" + kTag + "</head></html>");
    EXPECT_EQ(ReadFileBytes(outside + L"\\target.htm").value_or("<unreadable>"), kOutsideBytes);
    EXPECT_EQ(WithoutArchiveBit(::GetFileAttributesW((outside + L"\\target.htm").c_str())),
              DWORD{FILE_ATTRIBUTE_READONLY});
    clear();
}

// On Windows, a folder that a standard user swaps for a junction out between its listing and its open is
// opened as the junction and not followed.
TEST(UpdateRunFaultTest, AFolderSwappedForAJunctionAfterItsListingLeadsNowhere) {
    if (!machine::ReportsWorkstation())
        GTEST_SKIP() << "Windows Server: the gate refuses the machine, as the end-to-end tests check";
    const std::wstring basic = machine::GetManualFolder(2);
    const std::wstring outside = basic.substr(0, 3) + L"outside-swapped";
    ASSERT_TRUE(WriteFileBytes(basic + L"\\swapped\\page.htm", "<head>"));
    ASSERT_TRUE(WriteFileBytes(outside + L"\\page.htm", kOutsideBytes));
    const UniqueKernelHandle user = MakeStandardUserToken();
    ASSERT_TRUE(user) << ::GetLastError();
    ASSERT_NO_FATAL_FAILURE(MakeEligible());
    junctionFolder = basic + L"\\swapped";
    junctionTarget = outside;
    junctionToken = user.get();
    junctionMade = false;
    EXPECT_EQ(RunUpdate(), 0);
    junctionFolder.clear();
    const bool made = junctionMade;
    EXPECT_EQ(ReadFileBytes(outside + L"\\page.htm").value_or("<unreadable>"), kOutsideBytes);
    (void)DeleteTree(outside);
    (void)machine::ClearMachine();
    if (!made && machine::RunsUnderWine()) GTEST_SKIP() << "Wine makes no junctions";
    EXPECT_TRUE(made) << "the folder was not swapped";
}

// On Windows, links whose targets lead to a named pipe: a document that is a file link to it, and one whose
// file link leads inside, but through a junction to "\RPC Control", where an object-manager link leads on
// to the pipe. Every target is read before anything follows it, so the pipe's server sees nobody.
TEST(UpdateRunFaultTest, LinksToADeviceAreNeverOpened) {
    if (machine::RunsUnderWine())
        GTEST_SKIP() << "Wine makes no junctions, file links or object-manager links";
    if (!machine::ReportsWorkstation())
        GTEST_SKIP() << "Windows Server: the gate refuses the machine, as the end-to-end tests check";
    const std::wstring basic = machine::GetManualFolder(2);
    const std::wstring name = L"orvet-kit-" + std::to_wstring(::GetCurrentProcessId());
    ASSERT_TRUE(WriteFileBytes(basic + L"\\page.htm", "<head>"));
    const UniqueFileHandle pipe(::CreateNamedPipeW((L"\\\\.\\pipe\\" + name).c_str(),
                                                   PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE,
                                                   1, 0, 0, 0, nullptr));
    ASSERT_TRUE(pipe) << ::GetLastError();
    const UniqueKernelHandle connected(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected.get();
    ASSERT_FALSE(::ConnectNamedPipe(pipe.get(), &overlapped));
    ASSERT_EQ(::GetLastError(), DWORD{ERROR_IO_PENDING});
    ASSERT_TRUE(::CreateSymbolicLinkW((basic + L"\\pipe.htm").c_str(), (L"\\\\.\\pipe\\" + name).c_str(), 0))
        << ::GetLastError();
    ASSERT_TRUE(MakeJunction(basic + L"\\rpc", L"\\RPC Control")) << ::GetLastError();
    std::wstring objectName = L"\\RPC Control\\" + name + L".htm";
    std::wstring objectTarget = L"\\??\\pipe\\" + name;
    UNICODE_STRING objectText{static_cast<USHORT>(objectName.size() * 2),
                              static_cast<USHORT>(objectName.size() * 2), objectName.data()};
    UNICODE_STRING targetText{static_cast<USHORT>(objectTarget.size() * 2),
                              static_cast<USHORT>(objectTarget.size() * 2), objectTarget.data()};
    OBJECT_ATTRIBUTES object{};
    InitializeObjectAttributes(&object, &objectText, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    UniqueKernelHandle objectLink;
    ASSERT_EQ(::NtCreateSymbolicLinkObject(objectLink.put(), 0xF0001 /* SYMBOLIC_LINK_ALL_ACCESS */, &object,
                                           &targetText),
              0);
    ASSERT_TRUE(::CreateSymbolicLinkW((basic + L"\\through-rpc.htm").c_str(),
                                      (basic + L"\\rpc\\" + name + L".htm").c_str(), 0))
        << ::GetLastError();
    ASSERT_NO_FATAL_FAILURE(MakeEligible());

    EXPECT_EQ(RunUpdate(), 0);
    EXPECT_EQ(::WaitForSingleObject(connected.get(), 0), DWORD{WAIT_TIMEOUT}) << "the run opened the pipe";
    EXPECT_EQ(ReadFileBytes(basic + L"\\page.htm").value_or("<unreadable>"), "<head>" + kTag);
    (void)::CancelIo(pipe.get());
    (void)machine::ClearMachine();
}

DWORD WINAPI RunUpdateOnThread(void*) {
    return static_cast<DWORD>(RunUpdate());
}

// On Windows: a document that a user holds an oplock on is given up after a moment, and the run goes on; a
// document compressed by the platform (a reparse point that is no link) is read as its contents and patched.
TEST(UpdateRunFaultTest, OplocksHoldNoRunAndCompressedDocumentsArePatched) {
    if (machine::RunsUnderWine()) GTEST_SKIP() << "Wine has no oplocks and no compressed files";
    if (!machine::ReportsWorkstation())
        GTEST_SKIP() << "Windows Server: the gate refuses the machine, as the end-to-end tests check";
    const std::wstring basic = machine::GetManualFolder(2);
    const std::wstring held = basic + L"\\held.htm";
    const std::wstring compressed = basic + L"\\compressed.htm";
    const std::string large = "<head>" + std::string(64 * 1024, 'x');
    ASSERT_TRUE(WriteFileBytes(held, "<head>"));
    ASSERT_TRUE(WriteFileBytes(compressed, large));
    std::wstring command = L"compact.exe /c /exe:xpress4k \"" + compressed + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &process))
        << ::GetLastError();
    const UniqueKernelHandle compactProcess(process.hProcess);
    const UniqueKernelHandle compactThread(process.hThread);
    (void)::WaitForSingleObject(compactProcess.get(), 60'000);

    // An oplock of the caching kind, which a writer's open must wait on until its holder lets go.
    const UniqueFileHandle holder(::CreateFileW(held.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    ASSERT_TRUE(holder) << ::GetLastError();
    REQUEST_OPLOCK_INPUT_BUFFER input{REQUEST_OPLOCK_CURRENT_VERSION, sizeof input,
                                      OPLOCK_LEVEL_CACHE_READ | OPLOCK_LEVEL_CACHE_HANDLE,
                                      REQUEST_OPLOCK_INPUT_FLAG_REQUEST};
    REQUEST_OPLOCK_OUTPUT_BUFFER output{};
    output.StructureVersion = REQUEST_OPLOCK_CURRENT_VERSION;
    output.StructureLength = sizeof output;
    const UniqueKernelHandle broken(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = broken.get();
    ASSERT_FALSE(::DeviceIoControl(holder.get(), FSCTL_REQUEST_OPLOCK, &input, sizeof input, &output,
                                   sizeof output, nullptr, &overlapped));
    ASSERT_EQ(::GetLastError(), DWORD{ERROR_IO_PENDING}) << "no oplock granted";
    ASSERT_NO_FATAL_FAILURE(MakeEligible());

    const UniqueKernelHandle run(::CreateThread(nullptr, 0, RunUpdateOnThread, nullptr, 0, nullptr));
    ASSERT_TRUE(run);
    const DWORD ended = ::WaitForSingleObject(run.get(), 60'000);
    (void)::CancelIoEx(holder.get(), &overlapped);
    EXPECT_EQ(ended, DWORD{WAIT_OBJECT_0}) << "the run waited on the oplock";
    (void)::WaitForSingleObject(run.get(), INFINITE);
    EXPECT_EQ(ReadFileBytes(compressed).value_or("<unreadable>"), "<head>" + kTag + large.substr(6));
    (void)machine::ClearMachine();
}

}  // namespace
