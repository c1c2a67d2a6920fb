// The whole update run under Wine over a generated manual tree, against the floor program that only
// reads every page and writes it back once. Each repeat sets the machine up as eligible and started by
// the updater, generates the tree afresh before each of the two programs, times each program from its
// start to its exit, and samples its peak memory while it runs.
//
// Usage: run_benchmark --exe EXE (--floor FLOOR | --against EXE2) [--pages N] [--repeats R] [--big-page-mib
// M] With --big-page-mib, one more page of M MiB that needs both changes joins the tree. With --against,
// another build of the update run takes the floor's place, started and checked as the update run is: the two
// executables of a change, in one run.
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
#include "machine.h"
#include "page_texts.h"

namespace {

constexpr int kManualRow = 2;
constexpr int kPagesPerChapter = 100;
constexpr DWORD kRunTimeoutMs = 600'000;

constexpr std::size_t kGrowth = 57;

struct GeneratedPage {
    std::wstring path;
    std::size_t size;
    bool needsBoth;
};

// A page of the given size: a manual topic with a head, some paragraphs, and, when it needs both
// changes, the Internet-zone comment and no compatibility tag; otherwise already up to date.
std::string MakePage(std::size_t size, bool needsBoth, int number) {
    const std::string title = "Topic " + std::to_string(number);
    std::string page = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n";
    page += needsBoth ? kZone : kLocal;
    page += "\r\n<html>\r\n<head>";
    if (!needsBoth) page += kTag;
    page += "\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n<title>" + title +
            "</title>\r\n<link rel=\"stylesheet\" href=\"../manual.css\">\r\n</head>\r\n<body>\r\n<h1>" +
            title + "</h1>\r\n";
    const std::string tail = "</body>\r\n</html>\r\n";
    static const std::string kParagraph =
        "<p>Press the <b>Menu</b> button, choose <i>Settings</i> and then <i>Network</i>. The device "
        "lists the networks it can reach; select yours and enter its password. When the status lamp "
        "turns green, the connection is ready and the device can be used from every computer on it.</p>\r\n";
    while (page.size() + kParagraph.size() + tail.size() <= size) page += kParagraph;
    if (page.size() + tail.size() < size) page += std::string(size - page.size() - tail.size(), ' ');
    page += tail;
    return page;
}

std::optional<std::vector<GeneratedPage>> GenerateTree(int pages, int bigPageMiB) {
    const std::wstring root = machine::GetManualFolder(kManualRow);
    std::mt19937 random(20240601);
    std::uniform_int_distribution<std::size_t> sizes(16 * 1024, 30 * 1024);
    std::vector<GeneratedPage> generated;
    for (int i = 0; i < pages; ++i) {
        wchar_t name[64];
        std::swprintf(name, 64, L"\\chapter%03d\\topic%05d.htm", i / kPagesPerChapter, i);
        GeneratedPage page{root + name, sizes(random), i % 2 == 0};
        if (!WriteFileBytes(page.path, MakePage(page.size, page.needsBoth, i))) return std::nullopt;
        generated.push_back(std::move(page));
    }
    if (bigPageMiB > 0) {
        GeneratedPage page{root + L"\\chapter000\\large.htm", std::size_t(bigPageMiB) * 1024 * 1024, true};
        if (!WriteFileBytes(page.path, MakePage(page.size, true, pages))) return std::nullopt;
        generated.push_back(std::move(page));
    }
    return generated;
}

// Pages that needed both changes grew by 57 bytes and hold both; the others are as they were.
int CountWrongPages(const std::vector<GeneratedPage>& pages, bool patched) {
    int wrong = 0;
    for (const GeneratedPage& page : pages) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(page.path.c_str(), GetFileExInfoStandard, &data)) {
            ++wrong;
            continue;
        }
        const std::size_t expected = page.size + (patched && page.needsBoth ? kGrowth : 0);
        if (data.nFileSizeHigh != 0 || data.nFileSizeLow != expected) ++wrong;
    }
    if (patched && !pages.empty()) {
        const std::optional<std::string> first = ReadFileBytes(pages.front().path);
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

int RunBenchmark(const std::wstring& exe, const std::wstring& floor, bool floorIsUpdate, int pages,
                 int repeats, int bigPageMiB) {
    if (!machine::ClearMachine() || !machine::MakeEligible() ||
        machine::SetLaunchInstaller(1) != ERROR_SUCCESS) {
        std::fprintf(stderr, "can't set up the machine\n");
        return 1;
    }
    const std::wstring root = machine::GetManualFolder(kManualRow);
    std::printf("pages %d (16-30 KiB, half need both changes)%s, %d repeats\n", pages,
                bigPageMiB > 0 ? (" + one page of " + std::to_string(bigPageMiB) + " MiB").c_str() : "",
                repeats);
    std::printf("%-6s %-10s %10s %10s %8s %12s %12s %12s %12s\n", "repeat", "first", "floor ms", "exe ms",
                "ratio", "floor WS KiB", "exe WS KiB", "floor PF KiB", "exe PF KiB");

    std::vector<double> floorTimes, exeTimes, ratios;
    SIZE_T largestPage = 0, totalBytes = 0;
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
            const std::optional<std::vector<GeneratedPage>> tree = GenerateTree(pages, bigPageMiB);
            if (!tree) {
                std::fprintf(stderr, "can't generate the tree\n");
                return 1;
            }
            totalBytes = 0;
            for (const GeneratedPage& page : *tree) {
                largestPage = std::max<SIZE_T>(largestPage, page.size);
                totalBytes += page.size;
            }
            std::optional<Measurement>& run = exeTurn ? exeRun : floorRun;
            run = exeTurn || floorIsUpdate ? Measure(exeTurn ? exe : floor, L"")
                                           : Measure(floor, L"\"" + root + L"\"");
            if (!run) return 1;
            const int wrong = CountWrongPages(*tree, exeTurn || floorIsUpdate);
            if (wrong != 0) {
                std::fprintf(stderr, "%s left %d pages wrong\n", exeTurn ? "the update run" : "the floor",
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
    const int total = pages + (bigPageMiB > 0 ? 1 : 0);
    std::printf("tree %.1f MiB in %d pages, largest page %.1f KiB\n", double(totalBytes) / 1048576.0, total,
                KiB(largestPage));
    std::printf("median per page: floor %.1f us, update run %.1f us; median ratio %.2f\n",
                Median(floorTimes) * 1000.0 / total, Median(exeTimes) * 1000.0 / total, Median(ratios));
    std::printf(
        "peak working set: floor %.0f KiB, update run %.0f KiB, difference %.0f KiB = %.2f x largest page\n",
        KiB(floorPeak.peakWorkingSet), KiB(exePeak.peakWorkingSet),
        KiB(exePeak.peakWorkingSet) - KiB(floorPeak.peakWorkingSet),
        (double(exePeak.peakWorkingSet) - double(floorPeak.peakWorkingSet)) / double(largestPage));
    std::printf(
        "peak pagefile usage: floor %.0f KiB, update run %.0f KiB, difference %.0f KiB = %.2f x largest "
        "page\n",
        KiB(floorPeak.peakPagefile), KiB(exePeak.peakPagefile),
        KiB(exePeak.peakPagefile) - KiB(floorPeak.peakPagefile),
        (double(exePeak.peakPagefile) - double(floorPeak.peakPagefile)) / double(largestPage));
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
    int pages = 1000, repeats = 3, bigPageMiB = 0;
    for (int i = 1; i + 1 < count; i += 2) {
        const std::wstring option = arguments[i];
        const std::wstring value = arguments[i + 1];
        if (option == L"--exe") {
            exe = ToWindowsPath(value);
        } else if (option == L"--floor" || option == L"--against") {
            floor = ToWindowsPath(value);
            floorIsUpdate = option == L"--against";
        } else if (option == L"--pages") {
            pages = std::stoi(value);
        } else if (option == L"--repeats") {
            repeats = std::stoi(value);
        } else if (option == L"--big-page-mib") {
            bigPageMiB = std::stoi(value);
        } else {
            exe.clear();
            break;
        }
    }
    if (exe.empty() || floor.empty() || pages < 1 || repeats < 1 || count % 2 == 0) {
        std::fprintf(
            stderr,
            "usage: run_benchmark --exe EXE (--floor FLOOR | --against EXE2) [--pages N] [--repeats R] "
            "[--big-page-mib M]\n");
        return 2;
    }
    return RunBenchmark(exe, floor, floorIsUpdate, pages, repeats, bigPageMiB);
} catch (const std::exception& error) {
    std::fprintf(stderr, "run_benchmark: %s\n", error.what());
    return 2;
}
