// The folder walk over a tree of folders without links and without pages, against a floor that lists
// every folder the same way and does nothing else: what the walk adds per folder is what it costs to
// know which folders it has been in. Both run in this one process, in alternating rounds.
//
// Usage: walk_benchmark [--chapters N] [--sections M] [--rounds R]
// The tree is N folders of M folders each below one root, in the temporary folder.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

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

double Milliseconds(LARGE_INTEGER start, LARGE_INTEGER stop) {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

template <typename Run>
double Time(Run run) {
    LARGE_INTEGER start{};
    LARGE_INTEGER stop{};
    ::QueryPerformanceCounter(&start);
    run();
    ::QueryPerformanceCounter(&stop);
    return Milliseconds(start, stop);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
    const int chapters = ReadOption(argc, argv, L"--chapters", 200);
    const int sections = ReadOption(argc, argv, L"--sections", 100);
    const int rounds = ReadOption(argc, argv, L"--rounds", 7);

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
        std::printf("%zu folders without links or pages, %d rounds\n", folders.size(), rounds);
        std::printf("%-6s %12s %12s %8s\n", "round", "listing ms", "walk ms", "ratio");
        std::vector<double> listingTimes;
        std::vector<double> walkTimes;
        for (int round = 0; round < rounds && status == 0; ++round) {
            // Each goes first in every other round, so that neither always finds the other's caches.
            int listed = 0;
            int result = -1;
            double listing = 0;
            double walk = 0;
            if (round % 2 == 1) walk = Time([&] { result = PatchFolderTree(root); });
            listing = Time([&] { listed = ListTree(root); });
            if (round % 2 == 0) walk = Time([&] { result = PatchFolderTree(root); });
            if (listed != static_cast<int>(folders.size()) || result != 0) {
                std::fprintf(stderr, "listed %d folders, the walk yielded %d\n", listed, result);
                status = 1;
            }
            listingTimes.push_back(listing);
            walkTimes.push_back(walk);
            std::printf("%-6d %12.1f %12.1f %8.2f\n", round + 1, listing, walk, walk / listing);
        }
        if (status == 0) {
            const double listing = Median(listingTimes);
            const double walk = Median(walkTimes);
            std::printf("median %12.1f %12.1f %8.2f   (%.3f against %.3f ms a folder)\n", listing, walk,
                        walk / listing, walk / static_cast<double>(folders.size()),
                        listing / static_cast<double>(folders.size()));
        }
    }
    // Children first.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        (void)::RemoveDirectoryW(folder->c_str());
    return status;
}
