// The whole update run under Wine over a generated manual tree, against the floor program that only
// reads every document and writes it back once. Each repeat sets the machine up as eligible and started by
// the updater, generates the tree afresh before each of the two programs, times each program from its
// start to its exit, and samples its peak memory while it runs.
//
// Usage: run_benchmark --exe EXE (--floor FLOOR | --against EXE2) [--documents N] [--repeats R]
//                      [--big-document-mib M]
// With --big-document-mib, one more document of M MiB that needs both changes joins the tree. With
// --against, another build of the update run takes the floor's place, started and checked as the update
// run is: the two executables of a change, in one run.
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "fixed_texts.h"
#include "machine.h"

namespace {

constexpr int kManualRow = 2;
constexpr int kDocumentsPerChapter = 100;
constexpr DWORD kRunTimeoutMs = 600'000;

constexpr std::size_t kGrowth = 57;

struct GeneratedDocument {
    std::wstring path;
    std::size_t size;
    bool needsBoth;
};

// A document of the given size: a manual topic with a head, some paragraphs, and, when it needs both
// changes, the Internet-zone comment and no compatibility tag; otherwise already up to date.
std::string MakeDocument(std::size_t size, bool needsBoth, int number) {
    const std::string title = "Topic " + std::to_string(number);
    std::string document = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n";
    document += needsBoth ? kZone : kLocal;
    document += "\r\n<html>\r\n<head>";
    if (!needsBoth) document += kTag;
    document += "\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n<title>" +
                title +
                "</title>\r\n<link rel=\"stylesheet\" href=\"../manual.css\">\r\n</head>\r\n<body>\r\n<h1>" +
                title + "</h1>\r\n";
    const std::string tail = "</body>\r\n</html>\r\n";
    static const std::string kParagraph =
        "<p>Press the <b>Menu</b> button, choose <i>Settings</i> and then <i>Network</i>. The device "
        "lists the networks it can reach; select yours and enter its password. When the status lamp "
        "turns green, the connection is ready and the device can be used from every computer on it.</p>\r\n";
    while (document.size() + kParagraph.size() + tail.size() <= size) document += kParagraph;
    if (document.size() + tail.size() < size)
        document += std::string(size - document.size() - tail.size(), ' ');
    document += tail;
    return document;
}

std::optional<std::vector<GeneratedDocument>> GenerateTree(int documents, int bigDocumentMiB) {
    const std::wstring root = machine::GetManualFolder(kManualRow);
    std::mt19937 random(20240601);
    std::uniform_int_distribution<std::size_t> sizes(16 * 1024, 30 * 1024);
    std::vector<GeneratedDocument> generated;
    for (int i = 0; i < documents; ++i) {
        wchar_t name[64];
        std::swprintf(name, 64, L"\\chapter%03d\\topic%05d.htm", i / kDocumentsPerChapter, i);
        GeneratedDocument document{root + name, sizes(random), i % 2 == 0};
        if (!WriteFileBytes(document.path, MakeDocument(document.size, document.needsBoth, i)))
            return std::nullopt;
        generated.push_back(std::move(document));
    }
    if (bigDocumentMiB > 0) {
        GeneratedDocument document{root + L"\\chapter000\\large.htm",
                                   std::size_t(bigDocumentMiB) * 1024 * 1024, true};
        if (!WriteFileBytes(document.path, MakeDocument(document.size, true, documents))) return std::nullopt;
        generated.push_back(std::move(document));
    }
    return generated;
}

// Documents that needed both changes grew by 57 bytes and hold both; the others are as they were.
int CountWrongDocuments(const std::vector<GeneratedDocument>& documents, bool patched) {
    int wrong = 0;
    for (const GeneratedDocument& document : documents) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(document.path.c_str(), GetFileExInfoStandard, &data)) {
            ++wrong;
            continue;
        }
        const std::size_t expected = document.size + (patched && document.needsBoth ? kGrowth : 0);
        if (data.nFileSizeHigh != 0 || data.nFileSizeLow != expected) ++wrong;
    }
    if (patched && !documents.empty()) {
        const std::optional<std::string> first = ReadFileBytes(documents.front().path);
        if (!first || first->find(kTag) == std::string::npos || first->find(kLocal) == std::string::npos)
            ++wrong;
    }
    return wrong;
}

struct Measurement {
    double milliseconds = 0;
    SIZE_T peakWorkingSet = 0;
    SIZE_T peakPagefile = 0;
};

std::optional<Measurement> Measure(const std::wstring& exe, const std::wstring& arguments) {
    Measurement result;
    // Wine reads another process's counters from the host while it runs; they are gone once it has
    // exited, so the launcher keeps the highest values it saw.
    const auto sample = [&result](HANDLE process) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (::GetProcessMemoryInfo(process, &counters, sizeof counters)) {
            result.peakWorkingSet = std::max(result.peakWorkingSet, counters.PeakWorkingSetSize);
            result.peakPagefile = std::max(result.peakPagefile, counters.PeakPagefileUsage);
        }
    };
    std::wstring failure;
    std::optional<DWORD> code;
    result.milliseconds =
        TimeMilliseconds([&] { code = machine::RunToExit(exe, arguments, kRunTimeoutMs, failure, sample); });
    if (!code || *code != 0) {
        std::fwprintf(stderr, L"%ls: %ls\n", exe.c_str(),
                      code ? (L"exit code " + std::to_wstring(*code)).c_str() : failure.c_str());
        return std::nullopt;
    }
    return result;
}

double KiB(SIZE_T bytes) {
    return double(bytes) / 1024.0;
}

bool ResetTree(const std::wstring& root) {
    return DeleteTree(root);
}

int RunBenchmark(const std::wstring& exe, const std::wstring& floor, bool floorIsUpdate, int documents,
                 int repeats, int bigDocumentMiB) {
    if (!machine::ClearMachine() || !machine::MakeEligible() ||
        machine::SetLaunchInstaller(1) != ERROR_SUCCESS) {
        std::fprintf(stderr, "can't set up the machine\n");
        return 1;
    }
    const std::wstring root = machine::GetManualFolder(kManualRow);
    std::printf(
        "documents %d (16-30 KiB, half need both changes)%s, %d repeats\n", documents,
        bigDocumentMiB > 0 ? (" + one document of " + std::to_string(bigDocumentMiB) + " MiB").c_str() : "",
        repeats);
    std::printf("%-6s %-10s %10s %10s %8s %12s %12s %12s %12s\n", "repeat", "first", "floor ms", "exe ms",
                "ratio", "floor WS KiB", "exe WS KiB", "floor PF KiB", "exe PF KiB");

    std::vector<double> floorTimes, exeTimes, ratios;
    SIZE_T largestDocument = 0, totalBytes = 0;
    Measurement floorPeak, exePeak;
    for (int repeat = 0; repeat < repeats; ++repeat) {
        std::optional<Measurement> floorRun, exeRun;
        // Alternate which program meets the freshly generated tree first.
        for (int turn = 0; turn < 2; ++turn) {
            const bool exeTurn = (turn == 0) == (repeat % 2 == 1);
            if (!ResetTree(root)) {
                std::fprintf(stderr, "can't remove the tree\n");
                return 1;
            }
            const std::optional<std::vector<GeneratedDocument>> tree =
                GenerateTree(documents, bigDocumentMiB);
            if (!tree) {
                std::fprintf(stderr, "can't generate the tree\n");
                return 1;
            }
            totalBytes = 0;
            for (const GeneratedDocument& document : *tree) {
                largestDocument = std::max<SIZE_T>(largestDocument, document.size);
                totalBytes += document.size;
            }
            std::optional<Measurement>& run = exeTurn ? exeRun : floorRun;
            run = exeTurn || floorIsUpdate ? Measure(exeTurn ? exe : floor, L"")
                                           : Measure(floor, L"\"" + root + L"\"");
            if (!run) return 1;
            const int wrong = CountWrongDocuments(*tree, exeTurn || floorIsUpdate);
            if (wrong != 0) {
                std::fprintf(stderr, "%s left %d documents wrong\n", exeTurn ? "the update run" : "the floor",
                             wrong);
                return 1;
            }
        }
        floorTimes.push_back(floorRun->milliseconds);
        exeTimes.push_back(exeRun->milliseconds);
        ratios.push_back(exeRun->milliseconds / floorRun->milliseconds);
        floorPeak.peakWorkingSet = std::max(floorPeak.peakWorkingSet, floorRun->peakWorkingSet);
        floorPeak.peakPagefile = std::max(floorPeak.peakPagefile, floorRun->peakPagefile);
        exePeak.peakWorkingSet = std::max(exePeak.peakWorkingSet, exeRun->peakWorkingSet);
        exePeak.peakPagefile = std::max(exePeak.peakPagefile, exeRun->peakPagefile);
        std::printf("%-6d %-10s %10.1f %10.1f %8.2f %12.0f %12.0f %12.0f %12.0f\n", repeat + 1,
                    repeat % 2 ? "exe" : "floor", floorRun->milliseconds, exeRun->milliseconds, ratios.back(),
                    KiB(floorRun->peakWorkingSet), KiB(exeRun->peakWorkingSet), KiB(floorRun->peakPagefile),
                    KiB(exeRun->peakPagefile));
    }
    const int total = documents + (bigDocumentMiB > 0 ? 1 : 0);
    std::printf("tree %.1f MiB in %d documents, largest document %.1f KiB\n", double(totalBytes) / 1048576.0,
                total, KiB(largestDocument));
    std::printf("median per document: floor %.1f us, update run %.1f us; median ratio %.2f\n",
                Median(floorTimes) * 1000.0 / total, Median(exeTimes) * 1000.0 / total, Median(ratios));
    const auto printPeak = [largestDocument](const char* what, SIZE_T floorBytes, SIZE_T exeBytes) {
        std::printf(
            "peak %s: floor %.0f KiB, update run %.0f KiB, difference %.0f KiB = %.2f x largest document\n",
            what, KiB(floorBytes), KiB(exeBytes), KiB(exeBytes) - KiB(floorBytes),
            (double(exeBytes) - double(floorBytes)) / double(largestDocument));
    };
    printPeak("working set", floorPeak.peakWorkingSet, exePeak.peakWorkingSet);
    printPeak("pagefile usage", floorPeak.peakPagefile, exePeak.peakPagefile);
    return machine::ClearMachine() ? 0 : 1;
}

}  // namespace

int main() try {
    int count = 0;
    const UniqueLocalArguments owned(::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!owned) return 2;
    wchar_t** arguments = owned.get();
    std::wstring exe, floor;
    bool floorIsUpdate = false;
    int documents = 1000, repeats = 3, bigDocumentMiB = 0;
    for (int i = 1; i + 1 < count; i += 2) {
        const std::wstring option = arguments[i];
        const std::wstring value = arguments[i + 1];
        if (option == L"--exe") {
            exe = ToWindowsPath(value);
        } else if (option == L"--floor" || option == L"--against") {
            floor = ToWindowsPath(value);
            floorIsUpdate = option == L"--against";
        } else if (option == L"--documents") {
            documents = std::stoi(value);
        } else if (option == L"--repeats") {
            repeats = std::stoi(value);
        } else if (option == L"--big-document-mib") {
            bigDocumentMiB = std::stoi(value);
        } else {
            exe.clear();
            break;
        }
    }
    if (exe.empty() || floor.empty() || documents < 1 || repeats < 1 || count % 2 == 0) {
        std::fprintf(
            stderr,
            "usage: run_benchmark --exe EXE (--floor FLOOR | --against EXE2) [--documents N] [--repeats R] "
            "[--big-document-mib M]\n");
        return 2;
    }
    return RunBenchmark(exe, floor, floorIsUpdate, documents, repeats, bigDocumentMiB);
} catch (const std::exception& error) {
    std::fprintf(stderr, "run_benchmark: %s\n", error.what());
    return 2;
}
