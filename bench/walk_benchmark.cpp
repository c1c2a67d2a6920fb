// The folder walk over a tree of folders without links and without documents, against a floor that lists
// every folder the same way and does nothing else: what the walk adds per folder is what it costs to
// know which folders it has been in. Or the walk of one tree against the walk of another (a tree of
// links against the same tree without them). Both run in this one process, in alternating rounds.
//
// Usage: walk_benchmark [--chapters N] [--sections M] [--rounds R]
//        walk_benchmark --against TREE OTHER_TREE [--rounds R]
// The tree is N folders of M folders each below one root, in the temporary folder.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_support.h"
#include "patch.h"
#include "unique_handle.h"

namespace {

// Lists `folder` and every folder below it, as the walk does, and returns how many it listed.
int ListTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle listing(::FindFirstFileW((folder + L"\\*.*").c_str(), &entry));
    if (!listing) return 0;
    int listed = 1;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && entry.cFileName[0] != L'.') {
            listed += ListTree(folder + L'\\' + entry.cFileName);
        }
    } while (::FindNextFileW(listing.get(), &entry));
    return listed;
}

// Times `first` and `second` in alternating rounds, each going first in every other round so that
// neither always finds the other's caches; false when `check` fails on a round.
template <typename First, typename Second, typename Check>
bool Compare(const char* firstName, const char* secondName, int rounds, First first, Second second,
             Check check) {
    std::printf("%-6s %12s %12s %8s\n", "round", firstName, secondName, "ratio");
    std::vector<double> firstTimes;
    std::vector<double> secondTimes;
    for (int round = 0; round < rounds; ++round) {
        double secondTime = 0;
        if (round % 2 == 1) secondTime = TimeMilliseconds(second);
        const double firstTime = TimeMilliseconds(first);
        if (round % 2 == 0) secondTime = TimeMilliseconds(second);
        if (!check()) return false;
        firstTimes.push_back(firstTime);
        secondTimes.push_back(secondTime);
        std::printf("%-6d %12.1f %12.1f %8.2f\n", round + 1, firstTime, secondTime, secondTime / firstTime);
    }
    const double firstMedian = Median(firstTimes);
    const double secondMedian = Median(secondTimes);
    std::printf("median %12.1f %12.1f %8.2f\n", firstMedian, secondMedian, secondMedian / firstMedian);
    return true;
}

const wchar_t* ReadPathOption(int argc, wchar_t** argv, const wchar_t* name, int index) {
    for (int i = 1; i + index < argc; ++i) {
        if (std::wcscmp(argv[i], name) == 0) return argv[i + index];
    }
    return nullptr;
}

int ReadOption(int argc, wchar_t** argv, const wchar_t* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], name) == 0)
            return std::max(1, static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10)));
    }
    return fallback;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = ReadOption(argc, argv, L"--rounds", 7);
    if (const wchar_t* plain = ReadPathOption(argc, argv, L"--against", 1)) {
        const wchar_t* linked = ReadPathOption(argc, argv, L"--against", 2);
        if (linked == nullptr) return 2;
        // Each tree is a maker's folder of its own. The first walks patch what needs it; the rounds then
        // find every document patched.
        const std::vector<std::wstring> inside = {ReadFolderLocation(plain), ReadFolderLocation(linked)};
        const int plainResult = PatchFolderTree(plain, inside);
        const int linkedResult = PatchFolderTree(linked, inside);
        std::printf("%ls against %ls, %d rounds\n", linked, plain, rounds);
        int a = plainResult;
        int b = linkedResult;
        const bool same = Compare(
            "plain ms", "linked ms", rounds, [&] { a = PatchFolderTree(plain, inside); },
            [&] { b = PatchFolderTree(linked, inside); },
            [&] { return a == plainResult && b == linkedResult; });
        return same ? 0 : 1;
    }
    const int chapters = ReadOption(argc, argv, L"--chapters", 200);
    const int sections = ReadOption(argc, argv, L"--sections", 100);

    wchar_t temp[MAX_PATH + 1]{};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return 2;
    const std::wstring root =
        std::wstring(temp, length) + L"orvet-walk-bench-" + std::to_wstring(::GetCurrentProcessId());
    std::vector<std::wstring> folders{root};
    for (int c = 0; c < chapters; ++c) {
        const std::wstring chapter = root + L"\\chapter" + std::to_wstring(c);
        folders.push_back(chapter);
        for (int s = 0; s < sections; ++s) folders.push_back(chapter + L"\\section" + std::to_wstring(s));
    }
    int status = 0;
    for (const std::wstring& folder : folders) {
        if (!::CreateDirectoryW(folder.c_str(), nullptr)) {
            std::fwprintf(stderr, L"can't create %ls: %lu\n", folder.c_str(), ::GetLastError());
            status = 2;
            break;
        }
    }

    if (status == 0) {
        std::printf("%zu folders without links or documents, %d rounds\n", folders.size(), rounds);
        const std::vector<std::wstring> inside = {ReadFolderLocation(root)};
        int listed = 0;
        int result = -1;
        const bool same = Compare(
            "listing ms", "walk ms", rounds, [&] { listed = ListTree(root); },
            [&] { result = PatchFolderTree(root, inside); },
            [&] { return listed == static_cast<int>(folders.size()) && result == 0; });
        if (!same) {
            std::fprintf(stderr, "listed %d folders, the walk yielded %d\n", listed, result);
            status = 1;
        }
    }
    // Children first.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        (void)::RemoveDirectoryW(folder->c_str());
    return status;
}
