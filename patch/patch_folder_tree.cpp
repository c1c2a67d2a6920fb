// The depth-first walk of one manual folder.
#include <windows.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ascii_case.h"
#include "patch.h"
#include "unique_handle.h"

namespace {

// The longest path Windows lists or opens without the "\\?\" form: MAX_PATH less the terminator.
constexpr std::size_t kLongestPath = MAX_PATH - 1;

// Which directory a path leads to, whatever links it went through and however its name reads.
struct DirectoryId {
    std::uint64_t volume;
    std::uint64_t high;  // the 128-bit file id; the 64-bit file index sits in `low`
    std::uint64_t low;
    bool isFileIndex;  // a file index and a 128-bit id never name the same directory
};

bool operator==(const DirectoryId& a, const DirectoryId& b) noexcept {
    return a.volume == b.volume && a.high == b.high && a.low == b.low && a.isFileIndex == b.isFileIndex;
}

struct HashDirectoryId {
    std::size_t operator()(const DirectoryId& id) const noexcept {
        return std::hash<std::uint64_t>{}(id.volume ^ id.high * 31 ^ id.low * 0x9e3779b97f4a7c15u);
    }
};

// What the path limit decided in the walk of one directory, for every path it measured: each as its
// length less the directory's own, so that the same walk reached by a path of length n measures n plus
// that. Walks from two lengths decide alike, and so yield the same, where both lengths keep every path
// on its side of the limit.
struct LimitReach {
    std::size_t longestWithin = 0;
    std::size_t shortestBeyond = SIZE_MAX / 2;  // no path beyond the limit
};

void Measure(LimitReach& reach, std::size_t length, std::size_t ownLength) noexcept {
    const std::size_t relative = length - ownLength;
    if (length <= kLongestPath) {
        reach.longestWithin = std::max(reach.longestWithin, relative);
    } else {
        reach.shortestBeyond = std::min(reach.shortestBeyond, relative);
    }
}

void Merge(LimitReach& reach, const LimitReach& child, std::size_t childOffset) noexcept {
    reach.longestWithin = std::max(reach.longestWithin, child.longestWithin + childOffset);
    reach.shortestBeyond = std::min(reach.shortestBeyond, child.shortestBeyond + childOffset);
}

[[nodiscard]] bool DecidesAlike(const LimitReach& reach, std::size_t ownLength) noexcept {
    return ownLength + reach.longestWithin <= kLongestPath && ownLength + reach.shortestBeyond > kLongestPath;
}

// One walk of a directory, at the length of the path it was reached by.
struct DirectoryWalk {
    std::wstring path;  // kept only until the directory's identity is read
    int result;         // kUnderWay until the walk ends
    LimitReach reach;
    std::size_t earlier;  // the walk of the same directory before this one, or kNoWalk
};
constexpr int kUnderWay = -1;
constexpr std::size_t kNoWalk = SIZE_MAX;

// Every directory walked in one call of PatchFolderTree. Identities are read only from the first
// directory link on: before it no directory can be reached twice, and reading one costs more than
// listing the directory. The directories walked until then are kept by path and read at that link.
struct WalkState {
    std::vector<DirectoryWalk> walks;
    std::unordered_map<DirectoryId, std::size_t, HashDirectoryId> latestWalks;
    bool identifying = false;
};

bool IsDocumentName(const wchar_t* name) noexcept {
    const std::wstring_view extension = ::PathFindExtensionW(name);
    return EqualsIgnoringAsciiCase(extension, L".htm") || EqualsIgnoringAsciiCase(extension, L".html");
}

// The "\\?\" form of a fully qualified path, which Windows takes literally: otherwise a trailing
// space is dropped from the last name, and "aux", "nul" or "con.a" open a device. Empty for a path
// that is not fully qualified, which has no literal form.
std::wstring GetLiteralPath(const std::wstring& path) {
    constexpr std::wstring_view kLiteral = L"\\\\?\\";
    if (path.rfind(kLiteral, 0) == 0) return path;
    if (path.rfind(L"\\\\.\\", 0) == 0) return std::wstring(kLiteral).append(path, kLiteral.size());
    if (path.rfind(L"\\\\", 0) == 0) return std::wstring(kLiteral).append(L"UNC").append(path, 1);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return std::wstring(kLiteral).append(path);
    return {};
}

// Nothing when the directory can't be opened or the platform gives no id for it.
std::optional<DirectoryId> ReadDirectoryId(const std::wstring& folder) {
    const std::wstring literal = GetLiteralPath(folder);
    if (literal.empty()) return std::nullopt;
    // Attributes only and full sharing, so that no other opener is disturbed; backup semantics is what
    // lets a directory be opened at all. A link is followed: the id is its target's.
    const UniqueFileHandle directory(::CreateFileW(
        literal.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!directory) return std::nullopt;
    DirectoryId id{};
    FILE_ID_INFO idInfo{};
    if (::GetFileInformationByHandleEx(directory.get(), FileIdInfo, &idInfo, sizeof idInfo)) {
        static_assert(sizeof idInfo.FileId == sizeof id.high + sizeof id.low);
        id.volume = idInfo.VolumeSerialNumber;
        std::memcpy(&id.low, idInfo.FileId.Identifier, sizeof id.low);
        std::memcpy(&id.high, idInfo.FileId.Identifier + sizeof id.low, sizeof id.high);
    } else {
        // File systems without 128-bit ids still have the 64-bit index.
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(directory.get(), &info)) return std::nullopt;
        id.volume = info.dwVolumeSerialNumber;
        id.low = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
        id.isFileIndex = true;
    }
    // Some file systems answer 0 for every file: that would make all their directories one.
    if (id.high == 0 && id.low == 0) return std::nullopt;
    return id;
}

// From the first link on, every directory is looked up before it is walked.
void StartIdentifying(WalkState& state) {
    if (state.identifying) return;
    state.identifying = true;
    for (std::size_t i = 0; i < state.walks.size(); ++i) {
        if (const std::optional<DirectoryId> id = ReadDirectoryId(state.walks[i].path)) {
            // Without links no two of these are one directory; should the platform say otherwise, the
            // first keeps the identity.
            (void)state.latestWalks.try_emplace(*id, i);
        }
        std::wstring().swap(state.walks[i].path);
    }
}

int WalkFolder(const std::wstring& folder, bool throughLink, bool followLinks, WalkState& state,
               LimitReach& reach);

// The walk's exception boundary, for one listed entry and for the top folder. The walk keeps its records
// in containers and builds every child's path, so memory can run out anywhere in it; where it does, only
// that entry (or the top folder) yields 0, like a folder that can't be listed, and the walk goes on.
template <typename Step>
int ZeroWhereMemoryRunsOut(Step step) noexcept {
    try {
        return step();
    } catch (...) {
        return 0;
    }
}

// Handles one listed entry that is walked or patched.
int PatchEntry(const std::wstring& folder, const WIN32_FIND_DATAW& entry, bool followLinks, WalkState& state,
               LimitReach& reach) noexcept {
    return ZeroWhereMemoryRunsOut([&] {
        const std::wstring child = folder + L'\\' + entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            // Not refused here, but Windows opens no longer page path: where the limit falls decides
            // what the page yields.
            Measure(reach, child.size(), folder.size());
            return PatchDocument(child);
        }
        const bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (isLink) {
            if (!followLinks) return 0;
            StartIdentifying(state);
        }
        LimitReach childReach;
        const int result = WalkFolder(child, isLink, followLinks, state, childReach);
        Merge(reach, childReach, child.size() - folder.size());
        return result;
    });
}

// Throws only when memory runs out, and only before the folder is listed.
//
// Why the walk ends: without links, it walks a tree once. A directory with an identity is walked at
// most once for each path length (at most MAX_PATH of them), a cycle yields 0, and another path to a
// directory already walked yields that walk's result where the path limit decides alike for both
// lengths. A directory reached through a link whose identity can't be read is walked without following
// any link below it: one tree walk for each such link met, whatever names, links or permissions below.
int WalkFolder(const std::wstring& folder, bool throughLink, bool followLinks, WalkState& state,
               LimitReach& reach) {
    // No folder at all would give the pattern "\*.*": the root of the current drive, a whole drive
    // that nobody asked to be walked.
    if (folder.empty()) return 0;
    const std::wstring pattern = folder + L"\\*.*";
    // Windows lists no pattern beyond its path limit; refusing it here too ends every descent where
    // Windows ends it, also where the listing itself would accept longer paths.
    Measure(reach, pattern.size(), folder.size());
    if (pattern.size() > kLongestPath) return 0;

    std::size_t walk = kNoWalk;
    if (!state.identifying) {
        walk = state.walks.size();
        state.walks.push_back({folder, kUnderWay, {}, kNoWalk});
    } else if (const std::optional<DirectoryId> id = ReadDirectoryId(folder)) {
        const auto latest = state.latestWalks.try_emplace(*id, kNoWalk).first;
        std::size_t alike = kNoWalk;
        for (std::size_t i = latest->second; i != kNoWalk; i = state.walks[i].earlier) {
            if (state.walks[i].result == kUnderWay) return 0;
            if (DecidesAlike(state.walks[i].reach, folder.size())) alike = i;
        }
        if (alike != kNoWalk) {
            reach = state.walks[alike].reach;
            return state.walks[alike].result;
        }
        // A walk without links below it yields what it yields from here only.
        if (followLinks) {
            walk = state.walks.size();
            state.walks.push_back({{}, kUnderWay, {}, latest->second});
            latest->second = walk;
        }
    } else if (throughLink) {
        followLinks = false;
    }

    int result = 0;
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle listing(::FindFirstFileW(pattern.c_str(), &entry));
    if (listing) {
        do {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                // Covers "." and "..", and every directory whose name begins with a dot.
                if (entry.cFileName[0] != L'.') result = PatchEntry(folder, entry, followLinks, state, reach);
            } else if (IsDocumentName(entry.cFileName)) {
                result = PatchEntry(folder, entry, followLinks, state, reach);
            }
        } while (::FindNextFileW(listing.get(), &entry));
    }
    if (walk != kNoWalk) {
        state.walks[walk].result = result;
        state.walks[walk].reach = reach;
    }
    return result;
}

}  // namespace

int PatchFolderTree(const std::wstring& folder) noexcept {
    return ZeroWhereMemoryRunsOut([&folder] {
        WalkState state;
        LimitReach reach;
        return WalkFolder(folder, false, true, state, reach);
    });
}
