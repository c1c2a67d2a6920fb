// The real executable, started with CreateProcessW on a machine set up through the Win32 API in this
// build's Wine prefix: its exit code and what it left behind. Every scenario starts from a cleared
// machine and clears it again. Scenarios set the updater flag, so that a run never waits on a notice.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fixed_texts.h"
#include "machine.h"
#include "text.h"
#include "unique_handle.h"

namespace {

constexpr DWORD kRunTimeoutMs = 60'000;
constexpr DWORD kNotRun = 0xFFFFFFFF;

// A document as installed and as the run must leave it.
struct Document {
    int row;
    const wchar_t* name;  // below the row's folder
    std::string before;
    std::string after;
    bool readOnly = false;
};

std::wstring DocumentPath(const Document& document) {
    return machine::GetManualFolder(document.row) + L"\\" + document.name;
}

std::string NeedsBoth(const std::string& title) {
    return kZone + "\r\n<html>\r\n<head>\r\n<title>" + title + "</title>\r\n</head>\r\n<body><p>" + title +
           "</p></body>\r\n</html>\r\n";
}
std::string BothDone(const std::string& title) {
    return kLocal + "\r\n<html>\r\n<head>" + kTag + "\r\n<title>" + title +
           "</title>\r\n</head>\r\n<body><p>" + title + "</p></body>\r\n</html>\r\n";
}

// One document that needs both changes in every folder, and a file beside it that looks like one but is not.
std::vector<Document> OneDocumentPerFolder() {
    std::vector<Document> documents;
    for (int row = 1; row <= 4; ++row) {
        const std::string title = "Row " + std::to_string(row);
        documents.push_back({row, L"page.htm", NeedsBoth(title), BothDone(title)});
        documents.push_back({row, L"notes.txt", NeedsBoth(title), NeedsBoth(title)});
    }
    documents.push_back({2, L"readonly.htm", NeedsBoth("Read-only"), BothDone("Read-only"), true});
    return documents;
}

class EndToEndTest : public ::testing::Test {
  protected:
    // Every scenario here but the eligibility table's needs a machine the gate accepts.
    void SetUp() override {
        if (!machine::ReportsWorkstation())
            GTEST_SKIP() << "Windows Server: the gate refuses the machine, as the eligibility table checks";
        PrepareMachine();
    }

    void PrepareMachine() {
        exe_ = machine::GetExecutableUnderTest();
        ASSERT_FALSE(exe_.empty()) << "ORVET_EXE names the executable under test";
        ASSERT_NE(::GetFileAttributesW(exe_.c_str()), INVALID_FILE_ATTRIBUTES) << Narrow(exe_);
        ASSERT_TRUE(machine::ClearMachine());
        // Started by the updater: no notice may ever hold a run up.
        ASSERT_EQ(machine::SetLaunchInstaller(1), ERROR_SUCCESS);
    }

    void TearDown() override { EXPECT_TRUE(machine::ClearMachine()); }

    void Install(const std::vector<Document>& documents) {
        for (const Document& document : documents) {
            ASSERT_TRUE(WriteFileBytes(DocumentPath(document), document.before))
                << Narrow(DocumentPath(document));
            if (document.readOnly) {
                ASSERT_TRUE(::SetFileAttributesW(DocumentPath(document).c_str(), FILE_ATTRIBUTE_READONLY));
            }
        }
    }

    DWORD RunExe() {
        std::wstring failure;
        const std::optional<DWORD> code = machine::RunToExit(exe_, L"", kRunTimeoutMs, failure);
        if (!code) {
            ADD_FAILURE() << Narrow(failure);
            return kNotRun;
        }
        return *code;
    }

    std::wstring exe_;
};

void ExpectDocuments(const std::vector<Document>& documents, bool patched, const std::string& context) {
    for (const Document& document : documents) {
        const std::wstring path = DocumentPath(document);
        const std::optional<std::string> now = ReadFileBytes(path);
        ASSERT_TRUE(now) << context << ": " << Narrow(path);
        EXPECT_EQ(*now, patched ? document.after : document.before) << context << ": " << Narrow(path);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        EXPECT_EQ((attributes & FILE_ATTRIBUTE_READONLY) != 0, document.readOnly)
            << context << ": " << Narrow(path);
    }
}

void ExpectStamp(const std::string& context) {
    static const wchar_t kStamp[] = L"1.0.0.10080";
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    ASSERT_EQ(machine::ReadValue(machine::kStampRecord, machine::kNativeView, L"version", type, data),
              ERROR_SUCCESS)
        << context;
    EXPECT_EQ(type, DWORD{REG_SZ}) << context;
    ASSERT_EQ(data.size(), sizeof kStamp) << context;
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t)),
              std::wstring(kStamp, ARRAYSIZE(kStamp)))
        << context;
    EXPECT_FALSE(machine::KeyExists(machine::kStampRecord, machine::kOtherView)) << context << ": other view";
}

void ExpectNoStamp(const std::string& context) {
    EXPECT_FALSE(machine::KeyExists(machine::kStampRecord, machine::kNativeView)) << context;
    EXPECT_FALSE(machine::KeyExists(machine::kStampRecord, machine::kOtherView)) << context;
}

// A product record in one view: absent, a key without "version", or a key with that version.
struct Record {
    bool present;
    const wchar_t* version;
};
constexpr Record kAbsent{false, nullptr};
constexpr Record kNoVersion{true, nullptr};
constexpr Record Version(const wchar_t* version) {
    return {true, version};
}

struct EligibilityCase {
    const char* name;
    const wchar_t* windows;
    Record manual;       // in the view the executable reads natively
    Record manualOther;  // in the other view
    Record care32;
    Record care64;
    DWORD exitCode;
};

const EligibilityCase kEligibilityCases[] = {
    // Product records, on Windows 8.1.
    {"AcceptedManual", L"win81", Version(L"3.0.0.08100"), kAbsent, kAbsent, kAbsent, 0},
    {"OtherManualWithAcceptedCare", L"win81", Version(L"3.0.0.08000"), kAbsent, kAbsent,
     Version(L"8.3.0.08220"), 1},
    {"EmptyManualWithAcceptedCare", L"win81", Version(L""), kAbsent, kAbsent, Version(L"8.2.0.15030"), 1},
    {"ManualWithoutVersionCare82", L"win81", kNoVersion, kAbsent, kAbsent, Version(L"8.2.0.15030"), 0},
    {"ManualWithoutVersionCare83", L"win81", kNoVersion, kAbsent, kAbsent, Version(L"8.3.0.08220"), 0},
    {"NoManualCare82", L"win81", kAbsent, kAbsent, kAbsent, Version(L"8.2.0.15030"), 0},
    {"NoManualOtherCare", L"win81", kAbsent, kAbsent, kAbsent, Version(L"8.1.0.00000"), 1},
    {"NothingInstalled", L"win81", kAbsent, kAbsent, kAbsent, kAbsent, 1},
    // The Windows version that Wine reports through the manifest's compatibility entries.
    {"Windows7", L"win7", Version(L"3.0.0.08100"), kAbsent, kAbsent, kAbsent, 1},
    {"Windows8", L"win8", Version(L"3.0.0.08100"), kAbsent, kAbsent, kAbsent, 1},
    {"Windows10", L"win10", Version(L"3.0.0.08100"), kAbsent, kAbsent, kAbsent, 0},
    {"Windows10CareOnly", L"win10", kAbsent, kAbsent, kAbsent, Version(L"8.3.0.08220"), 0},
    // Each record is read from its own view only.
    {"CareOnlyIn32BitView", L"win81", kAbsent, kAbsent, Version(L"8.2.0.15030"), kAbsent, 1},
    {"ManualOnlyInTheOtherView", L"win81", kAbsent, Version(L"3.0.0.08100"), kAbsent, kAbsent, 1},
    {"OtherManualInTheOtherViewDoesNotHideCare", L"win81", kAbsent, Version(L"3.0.0.08000"), kAbsent,
     Version(L"8.2.0.15030"), 0},
};

void PrintTo(const EligibilityCase& c, std::ostream* os) {
    *os << c.name;
}

class EndToEndEligibilityTest : public EndToEndTest, public ::testing::WithParamInterface<EligibilityCase> {
  protected:
    void SetUp() override { PrepareMachine(); }
};

void WriteRecordCase(const wchar_t* key, REGSAM view, const Record& record) {
    if (!record.present) return;
    const std::optional<std::wstring> version =
        record.version ? std::optional<std::wstring>(record.version) : std::nullopt;
    ASSERT_EQ(machine::WriteRecord(key, view, version), ERROR_SUCCESS);
}

TEST_P(EndToEndEligibilityTest, ExitCodeAndWhatTheRunLeaves) {
    const EligibilityCase& c = GetParam();
    const LSTATUS reported = machine::SetReportedWindows(c.windows);
    if (reported == ERROR_NOT_SUPPORTED)
        GTEST_SKIP() << Narrow(c.windows)
                     << " is not this machine's release; under Wine the version setting reports it";
    ASSERT_EQ(reported, ERROR_SUCCESS);
    WriteRecordCase(machine::kManualRecord, machine::kNativeView, c.manual);
    WriteRecordCase(machine::kManualRecord, machine::kOtherView, c.manualOther);
    WriteRecordCase(machine::kCareRecord, machine::kView32, c.care32);
    WriteRecordCase(machine::kCareRecord, machine::kView64, c.care64);
    const std::vector<Document> documents = OneDocumentPerFolder();
    Install(documents);

    // A server is refused whatever its records say.
    const DWORD exitCode = machine::ReportsWorkstation() ? c.exitCode : 1;
    ASSERT_EQ(RunExe(), exitCode) << c.name;
    ExpectDocuments(documents, exitCode == 0, c.name);
    if (exitCode == 0) {
        ExpectStamp(c.name);
    } else {
        ExpectNoStamp(c.name);
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, EndToEndEligibilityTest, ::testing::ValuesIn(kEligibilityCases),
                         [](const ::testing::TestParamInfo<EligibilityCase>& param) {
                             return param.param.name;
                         });

TEST_F(EndToEndTest, StampIsWrittenWhenNoFolderExists) {
    ASSERT_TRUE(machine::MakeEligible());
    ASSERT_EQ(RunExe(), 0u);
    ExpectStamp("no folder");
    for (int row = 1; row <= 4; ++row) {
        EXPECT_EQ(::GetFileAttributesW(machine::GetManualFolder(row).c_str()), INVALID_FILE_ATTRIBUTES)
            << "row " << row << " was created";
    }
}

TEST_F(EndToEndTest, ExistingStampIsOverwritten) {
    ASSERT_TRUE(machine::MakeEligible());
    static const wchar_t kOld[] = L"0.9.0.00001-preview";
    ASSERT_EQ(machine::WriteValue(machine::kStampRecord, machine::kNativeView, L"version", REG_EXPAND_SZ,
                                  kOld, sizeof kOld),
              ERROR_SUCCESS);
    const DWORD other = 7;
    ASSERT_EQ(machine::WriteValue(machine::kStampRecord, machine::kNativeView, L"other", REG_DWORD, &other,
                                  sizeof other),
              ERROR_SUCCESS);

    ASSERT_EQ(RunExe(), 0u);
    ExpectStamp("existing stamp");
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    ASSERT_EQ(machine::ReadValue(machine::kStampRecord, machine::kNativeView, L"other", type, data),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD{REG_DWORD}) << "the record's other values stay";
}

TEST_F(EndToEndTest, AllFourFoldersArePatchedAtAnyDepth) {
    EXPECT_EQ(machine::GetManualFolder(1), L"C:\\Documentation\\Orvet User Guide")
        << "row 1 is under the drive root";
    ASSERT_TRUE(machine::MakeEligible());
    const std::string tagOnly =
        "<html>\r\n<HEAD>\r\n<title>Site</title>\r\n</HEAD>\r\n<body></body>\r\n</html>\r\n";
    const std::string tagDone =
        "<html>\r\n<HEAD>" + kTag + "\r\n<title>Site</title>\r\n</HEAD>\r\n<body></body>\r\n</html>\r\n";
    const std::string zoneOnly = kZone + "\r\n<html>\r\n<body><p>Basics.</p></body>\r\n</html>\r\n";
    const std::string zoneDone = kLocal + "\r\n<html>\r\n<body><p>Basics.</p></body>\r\n</html>\r\n";
    const std::vector<Document> documents = {
        {1, L"index.htm", tagOnly, tagDone},
        {1, L"Setup\\install.html", NeedsBoth("Installing"), BothDone("Installing")},
        {1, L"readonly.htm", zoneOnly, zoneDone, true},
        {2, L"basics.HTM", zoneOnly, zoneDone},
        {3, L"site\\deep\\er\\page.html", tagOnly, tagDone},
        {3, L".hidden\\skipped.htm", NeedsBoth("Skipped"), NeedsBoth("Skipped")},
        {4, L"current.html", BothDone("Current"), BothDone("Current")},
        {4, L"notes.txt", NeedsBoth("Notes"), NeedsBoth("Notes")},
        {4, L"page.htm.bak", NeedsBoth("Backup"), NeedsBoth("Backup")},
    };
    Install(documents);

    ASSERT_EQ(RunExe(), 0u);
    for (const Document& document : documents)
        ExpectDocuments({document}, document.before != document.after, "all four folders");
    ExpectStamp("all four folders");
}

TEST_F(EndToEndTest, MissingFoldersAreSkipped) {
    ASSERT_TRUE(machine::MakeEligible());
    const std::vector<Document> documents = {
        {3, L"page.htm", NeedsBoth("Local site"), BothDone("Local site")}};
    Install(documents);

    ASSERT_EQ(RunExe(), 0u);
    ExpectDocuments(documents, true, "only row 3");
    ExpectStamp("only row 3");
    for (const int row : {1, 2, 4}) {
        EXPECT_EQ(::GetFileAttributesW(machine::GetManualFolder(row).c_str()), INVALID_FILE_ATTRIBUTES)
            << "row " << row << " was created";
    }
}

// In every folder the last document listed is held open without sharing, so every walk returns 0; the
// documents before it are still patched and the run still succeeds.
TEST_F(EndToEndTest, ExitCodeIsZeroWhenEveryWalkReturnsZero) {
    ASSERT_TRUE(machine::MakeEligible());
    std::vector<Document> patched;
    std::vector<Document> held;
    for (int row = 1; row <= 4; ++row) {
        const std::string title = "Row " + std::to_string(row);
        patched.push_back({row, L"a.htm", NeedsBoth(title), BothDone(title)});
        held.push_back({row, L"z.htm", NeedsBoth(title), NeedsBoth(title)});
    }
    Install(patched);
    Install(held);
    std::vector<UniqueFileHandle> holds;
    for (const Document& document : held) {
        holds.push_back(HoldOpen(DocumentPath(document)));
        ASSERT_TRUE(holds.back()) << Narrow(DocumentPath(document));
    }

    ASSERT_EQ(RunExe(), 0u);
    holds.clear();
    ExpectDocuments(patched, true, "before the held document");
    ExpectDocuments(held, false, "held open");
    ExpectStamp("every walk 0");
}

}  // namespace
