// The completion notice on screen: the real executable started with CreateProcessW on an eligible
// machine, its box found by caption, read from the window and dismissed. The language comes from LC_ALL,
// which Wine reads from the Unix environment when a process starts; CTest sets it, together with the
// table expected (ORVET_NOTICE_LANGUAGE, hex), for each language run.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "machine.h"
#include "notice_texts.h"
#include "notice_window.h"
#include "unique_handle.h"

namespace {

constexpr DWORD kRunTimeoutMs = 60'000;
constexpr char kDocument[] = "<head></head>";

// What one run showed: every box it put up, in order, and how it ended.
struct Outcome {
    std::optional<DWORD> exitCode;
    std::wstring failure;
    std::vector<std::wstring> titles;
    std::vector<std::wstring> messages;
};

// How the updater flag is stored for a case; no type means no value at all.
struct Flag {
    const char* name;
    std::optional<DWORD> type;
    std::vector<BYTE> data;
    bool boxExpected;
};

// A document of the BasicManual folder, and whether the test holds it open, unshared, during the run.
struct Document {
    const wchar_t* name;
    bool heldOpen;
};

class NoticeOnScreen : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::string missing = notice::FindWhyNoBoxCanShow(); !missing.empty())
            GTEST_SKIP() << missing;
        if (!machine::ReportsWorkstation())
            GTEST_SKIP() << "Windows Server: the gate refuses the machine, so no run shows the notice";
        exe_ = machine::GetExecutableUnderTest();
        ASSERT_FALSE(exe_.empty()) << "ORVET_EXE names the executable";
        SetUpEligibleMachine();
    }

    void TearDown() override {
        if (!IsSkipped()) {
            EXPECT_TRUE(machine::ClearMachine());
        }
    }

    void SetUpEligibleMachine() {
        ASSERT_TRUE(machine::ClearMachine());
        ASSERT_TRUE(machine::MakeEligible());
    }

    static std::wstring DocumentPath(const wchar_t* name) {
        return machine::GetManualFolder(2) + L"\\" + name;
    }

    static void WriteDocument(const wchar_t* name) {
        ASSERT_TRUE(WriteFileBytes(DocumentPath(name), kDocument));
    }

    // Runs the executable; every box of the run is read and dismissed, so a box never stalls the test.
    Outcome Run() const {
        Outcome outcome;
        HWND last = nullptr;
        outcome.exitCode = machine::RunToExit(exe_, L"", kRunTimeoutMs, outcome.failure, [&](HANDLE process) {
            const HWND box = notice::FindNoticeBox(::GetProcessId(process));
            if (box == nullptr || box == last) return;
            std::wstring message = notice::ReadMessage(box);
            if (message.empty()) return;  // not set up yet
            last = box;
            outcome.titles.push_back(notice::ReadTitle(box));
            outcome.messages.push_back(std::move(message));
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        });
        return outcome;
    }

    std::wstring exe_;
};

// The box in the language of the user, or, for a language without a table, in one of the tables. Under
// CTest, ORVET_NOTICE_LANGUAGE names the language that LC_ALL gives Wine; elsewhere it is the user's own.
TEST_F(NoticeOnScreen, ShownInTheUserLanguage) {
    const char* wanted = std::getenv("ORVET_NOTICE_LANGUAGE");
    const auto language = wanted != nullptr ? static_cast<LANGID>(std::strtoul(wanted, nullptr, 16))
                                            : ::GetUserDefaultUILanguage();
    ASSERT_EQ(::GetUserDefaultUILanguage(), language) << "the UI language is not " << wanted;
    WriteDocument(L"page.htm");

    const Outcome outcome = Run();

    ASSERT_TRUE(outcome.exitCode) << Narrow(outcome.failure);
    EXPECT_EQ(*outcome.exitCode, 0u);
    ASSERT_EQ(outcome.messages.size(), 1u) << "boxes shown";
    EXPECT_EQ(outcome.titles[0], Widen(notice::kCaption)) << Narrow(outcome.titles[0]);
    const std::wstring& message = outcome.messages[0];
    if (const notice::LanguageTable* own = notice::FindTable(language)) {
        EXPECT_EQ(message, Widen(own->success)) << Narrow(message);
    } else {
        const notice::LanguageTable* chosen = nullptr;
        for (const notice::LanguageTable& table : notice::kLanguageTables) {
            if (message == Widen(table.success)) chosen = &table;
        }
        ASSERT_NE(chosen, nullptr) << "not the text of any table: " << Narrow(message);
        std::printf("language 0x%04X has no table; the loader chose a text of 0x%04X: %s\n", language,
                    chosen->language, Narrow(message).c_str());
    }
}

TEST_F(NoticeOnScreen, OnlyTheUpdaterFlagOneSuppressesTheBox) {
    const Flag flags[] = {
        {"absent", std::nullopt, {}, true},
        {"REG_DWORD 0", REG_DWORD, {0, 0, 0, 0}, true},
        {"REG_DWORD 2", REG_DWORD, {2, 0, 0, 0}, true},
        {"REG_SZ \"1\"", REG_SZ, {'1', 0, 0, 0}, true},
        {"REG_DWORD 1", REG_DWORD, {1, 0, 0, 0}, false},
        {"REG_BINARY 01", REG_BINARY, {1}, false},
    };
    for (const Flag& flag : flags) {
        SCOPED_TRACE(flag.name);
        SetUpEligibleMachine();
        WriteDocument(L"page.htm");
        if (flag.type) {
            ASSERT_EQ(machine::WriteValue(machine::kUpdaterKey, machine::kNativeView, L"LaunchInstaller",
                                          *flag.type, flag.data.data(), static_cast<DWORD>(flag.data.size())),
                      ERROR_SUCCESS);
        }

        const Outcome outcome = Run();

        ASSERT_TRUE(outcome.exitCode) << Narrow(outcome.failure);
        EXPECT_EQ(*outcome.exitCode, 0u);
        EXPECT_EQ(outcome.messages.size(), flag.boxExpected ? 1u : 0u) << "boxes shown";
    }
}

// Walks that all return 0 leave `handled` at 0: no box, and the run ends by itself.
TEST_F(NoticeOnScreen, NoneWhenEveryWalkReturnsZero) {
    struct Case {
        const char* name;
        bool folder;
        std::vector<Document> documents;
    };
    const Case cases[] = {
        {"no manual folder at all", false, {}},
        {"a folder without documents", true, {}},
        {"its only document held open", true, {{L"page.htm", true}}},
        // Listed by upper-cased name: A.HTM is patched, B.HTM, the last entry, fails.
        {"one document patched, the last one held open", true, {{L"a.htm", false}, {L"b.htm", true}}},
    };
    for (const Case& scenario : cases) {
        SCOPED_TRACE(scenario.name);
        SetUpEligibleMachine();
        if (scenario.folder) {
            ASSERT_TRUE(WriteFileBytes(DocumentPath(L"notes.txt"), "not a document"));
        }
        std::vector<UniqueFileHandle> held;
        for (const Document& document : scenario.documents) {
            WriteDocument(document.name);
            if (document.heldOpen) {
                held.push_back(HoldOpen(DocumentPath(document.name)));
                ASSERT_TRUE(held.back()) << "error " << ::GetLastError();
            }
        }

        const Outcome outcome = Run();
        held.clear();

        ASSERT_TRUE(outcome.exitCode) << Narrow(outcome.failure);
        EXPECT_EQ(*outcome.exitCode, 0u);
        EXPECT_TRUE(outcome.messages.empty()) << "a box came: " << Narrow(outcome.messages.front());
        for (const Document& document : scenario.documents) {
            const std::optional<std::string> after = ReadFileBytes(DocumentPath(document.name));
            ASSERT_TRUE(after);
            EXPECT_EQ(*after == kDocument, document.heldOpen)
                << Narrow(document.name) << " afterwards: " << *after;
        }
    }
}

}  // namespace
