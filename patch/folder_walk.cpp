// The walk lists directories in the order of their shortest path's length, each once, and patches a
// page when its directory is listed. A page is reached within the limits exactly when it is by its
// shortest path, which visits no directory twice. What a folder yields is what its last handled entry
// yields, so results follow one chain of last entries, evaluated once everything is listed.
#include "folder_walk.h"

#include <functional>
#include <unordered_map>
#include <utility>

#include "ascii_case.h"

namespace {

constexpr std::size_t kNone = SIZE_MAX;
// The pattern a folder is listed with: "\*.*" after its path.
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

enum class Last : unsigned char { Nothing, Page, Directory };

struct Directory {
    std::wstring path;  // the shortest path known; dropped once listed and identified
    std::size_t length;
    bool followLinks;
    bool listed = false;
    bool onChain = false;
    // The listing's last handled entry, which decides what the directory yields from every path.
    Last last = Last::Nothing;
    std::size_t lastNameLength = 0;
    std::size_t lastTarget = kNone;  // the directory it leads to, kNone where no link is followed
    int lastPageResult = 0;          // 0 also where the page lay beyond the limit
};

struct Walk {
    FolderWalkPlatform& platform;
    std::vector<Directory> directories;
    // Waiting to be listed, in one bucket for each length of the path they were queued with. Children
    // are longer than their folder, so the buckets are worked off in order; a later, shorter path queues
    // a directory again.
    std::vector<std::vector<std::size_t>> queue;
    // Identities are read only from the first link on: before it no directory can be reached twice,
    // and reading one costs more than listing the directory.
    bool identifying = false;
    std::unordered_map<DirectoryId, std::size_t, HashDirectoryId, SameDirectoryId> byId;
};

void Queue(Walk& walk, std::size_t index) {
    const std::size_t length = walk.directories[index].length;
    if (length <= kLongestListedFolder) walk.queue[length].push_back(index);
}

std::size_t AddDirectory(Walk& walk, std::wstring path, bool followLinks) {
    const std::size_t length = path.size();
    walk.directories.push_back({std::move(path), length, followLinks});
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
        known.length = path.size();
        known.path = std::move(path);
        Queue(walk, found->second);
    }
    return found->second;
}

void ListDirectory(Walk& walk, std::size_t index) {
    walk.directories[index].listed = true;
    // Its own copy: the records move as directories are added.
    const std::wstring folder = walk.directories[index].path;
    const bool followLinks = walk.directories[index].followLinks;
    std::vector<ListedEntry> entries;
    if (!walk.platform.ListFolder(folder, entries)) return;

    Last last = Last::Nothing;
    std::size_t lastNameLength = 0;
    std::size_t lastTarget = kNone;
    int lastPageResult = 0;
    for (const ListedEntry& entry : entries) {
        const bool isDirectory = (entry.attributes & kDirectoryAttribute) != 0;
        // Directories whose name begins with a dot, "." and ".." among them, are passed over like other
        // files than pages.
        const bool handled =
            isDirectory ? !entry.name.empty() && entry.name[0] != L'.' : IsDocumentName(entry.name);
        if (!handled) continue;
        const bool isLink = (entry.attributes & kReparsePointAttribute) != 0;
        last = isDirectory ? Last::Directory : Last::Page;
        lastNameLength = entry.name.size();
        if (isDirectory && isLink &&
            (!followLinks || !walk.platform.LiesInside(folder + L'\\' + entry.name))) {
            // Not entered, as a folder that can't be listed: a link that leads out of the folders the
            // walk may write in is never listed.
            lastTarget = kNone;
        } else if (isDirectory) {
            lastTarget = ReachDirectory(walk, folder + L'\\' + entry.name, isLink, followLinks);
        } else {
            // Windows opens no longer page path; the literal form would, so it is refused here.
            const std::size_t length = folder.size() + 1 + entry.name.size();
            lastPageResult =
                length <= kLongestPath ? walk.platform.PatchPage(folder + L'\\' + entry.name) : 0;
        }
    }
    Directory& directory = walk.directories[index];
    directory.last = last;
    directory.lastNameLength = lastNameLength;
    directory.lastTarget = lastTarget;
    directory.lastPageResult = lastPageResult;
    if (walk.identifying) std::wstring().swap(directory.path);
}

// What a depth-first walk of every path yields for the top folder: its chain of last entries, followed
// at the lengths of the paths along it, ends in a page, in nothing to follow, beyond the limit, or at
// a directory already on it.
int FollowLastEntries(Walk& walk) noexcept {
    std::size_t index = 0;
    std::size_t length = walk.directories[0].length;
    for (;;) {
        Directory& directory = walk.directories[index];
        if (length > kLongestListedFolder || directory.onChain || !directory.listed) return 0;
        directory.onChain = true;
        switch (directory.last) {
            case Last::Nothing:
                return 0;
            case Last::Page:
                return length + 1 + directory.lastNameLength <= kLongestPath ? directory.lastPageResult : 0;
            case Last::Directory:
                if (directory.lastTarget == kNone) return 0;
                length += 1 + directory.lastNameLength;
                index = directory.lastTarget;
                break;
        }
    }
}

}  // namespace

bool LiesWithin(std::wstring_view location, const std::vector<std::wstring>& folders) noexcept {
    for (const std::wstring& folder : folders) {
        if (folder.empty() || location.compare(0, folder.size(), folder) != 0) continue;
        // "C:" holds "C:", not "C:b"; a drive root "C:" ends in its own backslash.
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
    try {
        if (!platform.LiesInside(folder)) return 0;
        Walk walk{platform, {}, std::vector<std::vector<std::size_t>>(kLongestListedFolder + 1), false, {}};
        (void)AddDirectory(walk, folder, true);
        // A directory's children are longer than it, so no bucket grows while it is being worked off.
        for (std::size_t length = folder.size(); length <= kLongestListedFolder; ++length) {
            for (const std::size_t index : walk.queue[length]) {
                const Directory& directory = walk.directories[index];
                if (directory.listed || directory.length != length) continue;
                try {
                    ListDirectory(walk, index);
                } catch (...) {
                    // Memory ran out: this folder yields 0, as one that can't be listed.
                    walk.directories[index].last = Last::Nothing;
                }
            }
            std::vector<std::size_t>().swap(walk.queue[length]);
        }
        return FollowLastEntries(walk);
    } catch (...) {
        return 0;
    }
}
