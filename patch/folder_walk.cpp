// The manual folder walk's decisions; folder_walk.h says what it does and why it is built so.
#include "folder_walk.h"

#include <array>
#include <functional>
#include <unordered_map>
#include <utility>

#include "ascii_case.h"

namespace {

constexpr std::size_t kNone = SIZE_MAX;
// The ordinary pattern "\*.*" after a folder's path, by which the limit is measured.
constexpr std::size_t kPatternTail = 4;
constexpr std::size_t kLongestListedFolder = kLongestPath - kPatternTail;

struct HashDirectoryId {
    std::size_t operator()(const DirectoryId& id) const noexcept {
        return std::hash<std::uint64_t>{}(id.volume ^ id.high * 31 ^ id.low * 0x9e3779b97f4a7c15u);
    }
};

struct SameDirectoryId {
    bool operator()(const DirectoryId& a, const DirectoryId& b) const noexcept {
        return a.volume == b.volume && a.high == b.high && a.low == b.low && a.isFileIndex == b.isFileIndex;
    }
};

// The last entry a listing handled, which decides what its directory yields from every path.
struct LastEntry {
    enum class Kind : unsigned char { Nothing, Page, Directory };
    Kind kind = Kind::Nothing;
    std::size_t nameLength = 0;
    std::size_t target = kNone;  // the directory it leads to; kNone where no link is followed
    int pageResult = 0;          // 0 also where the page lay beyond the limit
};

// A directory met by the walk: how to reach it until it is listed, and its last entry after.
struct Directory {
    std::wstring path;  // the shortest path known; dropped once listed and identified
    std::size_t length = 0;
    bool followLinks = true;  // false below a link whose identity could not be read
    bool listed = false;
    LastEntry last;
};

struct Walk {
    explicit Walk(FolderWalkPlatform& walkPlatform) noexcept : platform(walkPlatform) {}

    FolderWalkPlatform& platform;
    // Addressed by index only: the records move as directories are added.
    std::vector<Directory> directories;
    // Waiting to be listed, in one bucket for each length of the path they were queued with. Children
    // are longer than their folder, so the buckets are worked off in order; a later, shorter path queues
    // a directory again.
    std::array<std::vector<std::size_t>, kLongestListedFolder + 1> queue;
    // Identities are read only from the first link on: before it no directory can be reached twice,
    // and reading one costs more than listing the directory.
    bool identifying = false;
    std::unordered_map<DirectoryId, std::size_t, HashDirectoryId, SameDirectoryId> byId;
};

// Memory running out is the one exception here (listings, paths and records grow): the step yields false,
// and what it was for yields 0, as a folder that can't be listed.
template <typename Step>
[[nodiscard]] bool RunGuarded(Step step) noexcept {
    try {
        step();
        return true;
    } catch (...) {
        return false;
    }
}

void Queue(Walk& walk, std::size_t index) {
    const std::size_t length = walk.directories[index].length;
    if (length <= kLongestListedFolder) walk.queue[length].push_back(index);
}

std::size_t AddDirectory(Walk& walk, std::wstring path, bool followLinks) {
    const std::size_t length = path.size();
    Directory& added = walk.directories.emplace_back();
    added.path = std::move(path);
    added.length = length;
    added.followLinks = followLinks;
    Queue(walk, walk.directories.size() - 1);
    return walk.directories.size() - 1;
}

void StartIdentifying(Walk& walk) {
    if (walk.identifying) return;
    walk.identifying = true;
    for (std::size_t i = 0; i < walk.directories.size(); ++i) {
        Directory& directory = walk.directories[i];
        if (const std::optional<DirectoryId> id = walk.platform.ReadDirectoryId(directory.path)) {
            // Without links no two of these are one directory; should the platform say otherwise, the
            // first keeps the identity.
            (void)walk.byId.try_emplace(*id, i);
        }
        if (directory.listed) std::wstring().swap(directory.path);
    }
}

// The directory that the entry at `path` leads to, a new one or one met before by another path.
std::size_t ReachDirectory(Walk& walk, std::wstring path, bool isLink, bool followLinks) {
    if (isLink) StartIdentifying(walk);
    if (!walk.identifying) return AddDirectory(walk, std::move(path), followLinks);
    const std::optional<DirectoryId> id = walk.platform.ReadDirectoryId(path);
    if (!id) {
        // Nothing could bound the links below it.
        return AddDirectory(walk, std::move(path), followLinks && !isLink);
    }
    const auto found = walk.byId.find(*id);
    if (found == walk.byId.end()) {
        const std::size_t index = AddDirectory(walk, std::move(path), followLinks);
        walk.byId.emplace(*id, index);
        return index;
    }
    Directory& known = walk.directories[found->second];
    if (!known.listed && path.size() < known.length) {
        // The record describes its shortest path, whose links may be followed where the longer's
        // could not: the directory itself has an identity.
        known.length = path.size();
        known.path = std::move(path);
        known.followLinks = followLinks;
        Queue(walk, found->second);
    }
    return found->second;
}

// Lists the directory `index` and patches its pages; its last handled entry is kept for the chain.
void ListDirectory(Walk& walk, std::size_t index) {
    std::vector<ListedEntry> entries;
    LastEntry last;
    if (walk.platform.ListFolder(walk.directories[index].path, entries)) {
        for (const ListedEntry& entry : entries) {
            const bool isDirectory = (entry.attributes & kDirectoryAttribute) != 0;
            // Directories whose name begins with a dot, "." and ".." among them, are passed over like
            // other files than pages.
            const bool handled =
                isDirectory ? !entry.name.empty() && entry.name[0] != L'.' : IsDocumentName(entry.name);
            if (!handled) continue;
            const bool isLink = (entry.attributes & kReparsePointAttribute) != 0;
            const Directory& directory = walk.directories[index];
            std::wstring child = directory.path + L'\\' + entry.name;
            last = {isDirectory ? LastEntry::Kind::Directory : LastEntry::Kind::Page, entry.name.size()};
            if (!isDirectory) {
                // Windows opens no longer page path; the literal form would, so it is refused here.
                last.pageResult = child.size() <= kLongestPath ? walk.platform.PatchPage(child) : 0;
            } else if (!isLink || (directory.followLinks && walk.platform.LiesInside(child))) {
                last.target = ReachDirectory(walk, std::move(child), isLink, directory.followLinks);
            }
            // Otherwise a link that is not followed, or that leads out of the folders the walk may write
            // in: not entered, as a folder that can't be listed.
        }
    }
    Directory& directory = walk.directories[index];
    directory.last = last;
    // Only now, so that identifying does not drop the path while its entries are being handled.
    directory.listed = true;
    if (walk.identifying) std::wstring().swap(directory.path);
}

// What a depth-first walk of every path yields for the top folder: its chain of last entries, followed
// at the lengths of the paths along it, ends in a page, in nothing to follow, beyond the limit, or at
// a directory already on it.
int FollowLastEntries(const Walk& walk) {
    std::vector<bool> onChain(walk.directories.size());
    std::size_t index = 0;
    std::size_t length = walk.directories[0].length;
    for (;;) {
        const Directory& directory = walk.directories[index];
        if (length > kLongestListedFolder || onChain[index] || !directory.listed) return 0;
        onChain[index] = true;
        switch (directory.last.kind) {
            case LastEntry::Kind::Nothing:
                return 0;
            case LastEntry::Kind::Page:
                return length + 1 + directory.last.nameLength <= kLongestPath ? directory.last.pageResult : 0;
            case LastEntry::Kind::Directory:
                if (directory.last.target == kNone) return 0;
                length += 1 + directory.last.nameLength;
                index = directory.last.target;
                break;
        }
    }
}

}  // namespace

bool LiesWithin(std::wstring_view location, const std::vector<std::wstring>& folders) noexcept {
    for (const std::wstring& folder : folders) {
        if (folder.empty() || location.compare(0, folder.size(), folder) != 0) continue;
        // "C:\a" holds "C:\a\b", not "C:\ab"; a drive root "C:\" ends in its own backslash.
        if (location.size() == folder.size() || folder.back() == L'\\' || location[folder.size()] == L'\\')
            return true;
    }
    return false;
}

bool IsDocumentName(std::wstring_view name) noexcept {
    std::size_t dot = std::wstring_view::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == L'.') {
            dot = i;
        } else if (name[i] == L' ' || name[i] == L'\\') {
            dot = std::wstring_view::npos;
        }
    }
    if (dot == std::wstring_view::npos) return false;
    const std::wstring_view extension = name.substr(dot);
    return EqualsIgnoringAsciiCase(extension, L".htm") || EqualsIgnoringAsciiCase(extension, L".html");
}

int WalkFolderTree(const std::wstring& folder, FolderWalkPlatform& platform) noexcept {
    // No folder at all would give the pattern "\*.*": the root of the current drive, a whole drive
    // that nobody asked to be walked.
    if (folder.empty()) return 0;
    Walk walk(platform);
    if (!RunGuarded([&] {
            if (platform.LiesInside(folder)) (void)AddDirectory(walk, folder, true);
        }) ||
        walk.directories.empty()) {
        return 0;
    }
    // A directory's children are longer than it, so no bucket grows while it is being worked off.
    for (std::size_t length = folder.size(); length <= kLongestListedFolder; ++length) {
        for (const std::size_t index : walk.queue[length]) {
            const Directory& directory = walk.directories[index];
            if (directory.listed || directory.length != length) continue;
            if (!RunGuarded([&] { ListDirectory(walk, index); })) {
                walk.directories[index].last = {};
                walk.directories[index].listed = true;
            }
        }
        std::vector<std::size_t>().swap(walk.queue[length]);
    }
    int result = 0;
    (void)RunGuarded([&] { result = FollowLastEntries(walk); });
    return result;
}
