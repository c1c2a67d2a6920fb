// The manual folder walk's decisions; folder_walk.h says what it does and why it is built so.
#include "folder_walk.h"

#include <algorithm>
#include <array>
#include <functional>
#include <unordered_map>
#include <utility>

#include "ascii_case.h"
#include "run_guarded.h"

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

// How many folders the walk keeps open besides those it is opening: the most recently used ones, so
// that a folder's handle is mostly still held when its next child is opened.
constexpr std::size_t kHeldFolders = 16;

// The last entry a listing handled, which decides what its directory yields from every path.
struct LastEntry {
    enum class Kind : unsigned char { Nothing, Document, Directory };
    Kind kind = Kind::Nothing;
    std::size_t nameLength = 0;
    std::size_t target = kNone;  // the directory it leads to; kNone where no link is followed
    int documentResult = 0;      // 0 also where the document lay beyond the limit
};

// A directory met by the walk: how to open it again, and its last entry once listed.
struct Directory {
    std::size_t parent = kNone;  // the directory it is an entry of, by `name`; kNone: reached by `way`
    std::wstring name;
    Way way;                  // from a maker's folder, without links, where `parent` is kNone
    bool followed = false;    // the platform followed a link to it: judged where it lies at every open
    bool reparsed = false;    // a reparse point that is no link: opened again through itself
    std::size_t length = 0;   // of its shortest path known
    bool followLinks = true;  // false below a link whose identity could not be read
    bool listed = false;
    LastEntry last;
};

struct HeldFolder {
    std::size_t directory;
    Held handle;
    std::uint64_t used;
};

struct Walk {
    Walk(FolderWalkPlatform& walkPlatform, const std::vector<std::wstring>& folders) noexcept
        : platform(walkPlatform), makerFolders(folders) {}

    FolderWalkPlatform& platform;
    const std::vector<std::wstring>& makerFolders;
    // Addressed by index only: the records move as directories are added.
    std::vector<Directory> directories;
    // Waiting to be listed, in one bucket for each length of the path they were queued with. Children
    // are longer than their folder, so the buckets are worked off in order; a later, shorter path queues
    // a directory again, and its earlier entry is passed over.
    std::array<std::vector<std::size_t>, kLongestListedFolder + 1> queue;
    // Identities are read only from the first link on: before it no directory can be reached twice.
    bool identifying = false;
    std::unordered_map<DirectoryId, std::size_t, HashDirectoryId, SameDirectoryId> byId;
    std::vector<HeldFolder> held;
    std::uint64_t clock = 0;
};

void Queue(Walk& walk, std::size_t index) {
    const std::size_t length = walk.directories[index].length;
    if (length <= kLongestListedFolder) walk.queue[length].push_back(index);
}

// Keeps `handle` of directory `index` among the folders held, letting the least recently used go.
HeldHandle Keep(Walk& walk, std::size_t index, Held handle) {
    if (walk.held.size() >= kHeldFolders) {
        const auto oldest =
            std::min_element(walk.held.begin(), walk.held.end(),
                             [](const HeldFolder& a, const HeldFolder& b) { return a.used < b.used; });
        walk.held.erase(oldest);
    }
    const HeldHandle kept = handle.get();
    walk.held.push_back({index, std::move(handle), ++walk.clock});
    return kept;
}

HeldHandle Acquire(Walk& walk, std::size_t index);

// Opens directory `index` again: by its name in its folder, which is acquired first, or by its way.
Held OpenDirectory(Walk& walk, std::size_t index) {
    FolderWalkPlatform& platform = walk.platform;
    if (walk.directories[index].parent == kNone) {
        Way way = walk.directories[index].way;
        return Held(platform, OpenWithin(platform, walk.makerFolders, way, true).handle);
    }
    const HeldHandle parent = Acquire(walk, walk.directories[index].parent);
    if (parent == kNotHeld) return Held(platform, kNotHeld);
    const Directory& directory = walk.directories[index];
    if (!directory.followed && !directory.reparsed)
        return Held(platform, platform.OpenListedFolder(parent, directory.name));
    const OpenedEntry entry = OpenAsItself(platform, parent, directory.name, true);
    Held opened(platform, entry.handle);
    // One the platform followed a link to is judged again; a link swapped in since is not followed.
    if (entry.kind != EntryKind::Directory || (directory.followed && !platform.LiesInside(opened.get())))
        opened.reset();
    return opened;
}

// The handle of directory `index`, held already or opened again; kNotHeld when it can't be had.
HeldHandle Acquire(Walk& walk, std::size_t index) {
    for (HeldFolder& folder : walk.held) {
        if (folder.directory == index) {
            folder.used = ++walk.clock;
            return folder.handle.get();
        }
    }
    Held opened = OpenDirectory(walk, index);
    return opened ? Keep(walk, index, std::move(opened)) : kNotHeld;
}

// Where directory `index` lies, as names from a maker's folder: for a relative link in it. False where
// a link the platform followed lies on the way.
bool FindWay(const Walk& walk, std::size_t index, Way& way) {
    std::vector<std::size_t> chain;
    for (; walk.directories[index].parent != kNone; index = walk.directories[index].parent) {
        if (walk.directories[index].followed) return false;
        chain.push_back(index);
    }
    way = walk.directories[index].way;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) way.names.push_back(walk.directories[*at].name);
    return true;
}

std::size_t AddDirectory(Walk& walk, Directory directory) {
    walk.directories.push_back(std::move(directory));
    Queue(walk, walk.directories.size() - 1);
    return walk.directories.size() - 1;
}

void StartIdentifying(Walk& walk) {
    if (walk.identifying) return;
    walk.identifying = true;
    for (std::size_t i = 0; i < walk.directories.size(); ++i) {
        const HeldHandle folder = Acquire(walk, i);
        if (folder == kNotHeld) continue;
        if (const std::optional<DirectoryId> id = walk.platform.ReadDirectoryId(folder)) {
            // Without links no two of these are one directory; should the platform say otherwise, the
            // first keeps the identity.
            (void)walk.byId.try_emplace(*id, i);
        }
    }
}

// The directory that `reached`, held as `handle`, is: a new one or one met before by another path.
std::size_t ReachDirectory(Walk& walk, Directory reached, Held handle, bool isLink) {
    if (!walk.identifying) {
        const std::size_t index = AddDirectory(walk, std::move(reached));
        (void)Keep(walk, index, std::move(handle));
        return index;
    }
    const std::optional<DirectoryId> id = walk.platform.ReadDirectoryId(handle.get());
    if (!id) {
        // Nothing could bound the links below it.
        reached.followLinks = reached.followLinks && !isLink;
        const std::size_t index = AddDirectory(walk, std::move(reached));
        (void)Keep(walk, index, std::move(handle));
        return index;
    }
    const auto found = walk.byId.find(*id);
    if (found == walk.byId.end()) {
        const std::size_t index = AddDirectory(walk, std::move(reached));
        walk.byId.emplace(*id, index);
        (void)Keep(walk, index, std::move(handle));
        return index;
    }
    Directory& known = walk.directories[found->second];
    if (!known.listed && reached.length < known.length) {
        // The record describes its shortest path, whose links may be followed where the longer's
        // could not: the directory itself has an identity.
        // Not listed yet, so nothing else is kept in it.
        known = std::move(reached);
        Queue(walk, found->second);
    }
    return found->second;
}

// The directory the link `name` in directory `index` leads to, where it leads inside; kNone otherwise.
std::size_t FollowLink(Walk& walk, std::size_t index, const std::wstring& name, std::size_t length) {
    FolderWalkPlatform& platform = walk.platform;
    StartIdentifying(walk);
    const HeldHandle folder = Acquire(walk, index);
    if (folder == kNotHeld) return kNone;
    const OpenedEntry entry = OpenAsItself(platform, folder, name, true);
    Held link(platform, entry.handle);
    if (!link) return kNone;
    Directory reached;
    reached.length = length;
    reached.followLinks = walk.directories[index].followLinks;
    if (entry.reopened) {
        // No link, a placeholder or the like: its contents, as the platform shows them through it.
        reached.parent = index;
        reached.name = name;
        reached.reparsed = true;
        return ReachDirectory(walk, std::move(reached), std::move(link), false);
    }
    const LinkTarget target = platform.ReadLinkTarget(link.get());
    if (target.kind == LinkTarget::Kind::Followed) {
        // The platform followed it although asked not to: judged where it led.
        if (entry.kind != EntryKind::Directory || !platform.LiesInside(link.get())) return kNone;
        reached.parent = index;
        reached.name = name;
        reached.followed = true;
        return ReachDirectory(walk, std::move(reached), std::move(link), true);
    }
    Way linkFolder;
    if (target.kind == LinkTarget::Kind::Relative && !FindWay(walk, index, linkFolder)) return kNone;
    if (!ResolveLinkTarget(target, linkFolder, walk.makerFolders, reached.way)) return kNone;
    Held opened(platform, OpenWithin(platform, walk.makerFolders, reached.way, true).handle);
    if (!opened) return kNone;
    return ReachDirectory(walk, std::move(reached), std::move(opened), true);
}

// The plain folder `name` in directory `index`; kNone when it can't be opened as one.
std::size_t EnterFolder(Walk& walk, std::size_t index, const std::wstring& name, std::size_t length) {
    FolderWalkPlatform& platform = walk.platform;
    Directory reached;
    reached.parent = index;
    reached.name = name;
    reached.length = length;
    reached.followLinks = walk.directories[index].followLinks;
    if (!walk.identifying) {
        // Opened once it is listed: only the record is made now.
        return AddDirectory(walk, std::move(reached));
    }
    const HeldHandle folder = Acquire(walk, index);
    if (folder == kNotHeld) return kNone;
    Held opened(platform, platform.OpenListedFolder(folder, name));
    if (!opened) return kNone;
    return ReachDirectory(walk, std::move(reached), std::move(opened), false);
}

// Patches the document `name` in directory `index`, a link to a document inside included.
int PatchEntry(Walk& walk, std::size_t index, const std::wstring& name) {
    FolderWalkPlatform& platform = walk.platform;
    const HeldHandle folder = Acquire(walk, index);
    if (folder == kNotHeld) return 0;
    OpenedEntry entry = OpenAsItself(platform, folder, name, false);
    Held document(platform, entry.handle);
    if (!document) return 0;
    if (entry.kind == EntryKind::Link) {
        const LinkTarget target = platform.ReadLinkTarget(document.get());
        document.reset();
        Way linkFolder;
        Way way;
        if (target.kind == LinkTarget::Kind::Relative && !FindWay(walk, index, linkFolder)) return 0;
        if (!ResolveLinkTarget(target, linkFolder, walk.makerFolders, way)) return 0;
        entry = OpenWithin(platform, walk.makerFolders, way, false);
        document.reset(entry.handle);
        if (!document) return 0;
    }
    if (entry.kind != EntryKind::Document && entry.kind != EntryKind::ReadOnlyDocument) return 0;
    return platform.PatchDocument(document.get(), entry.kind == EntryKind::ReadOnlyDocument);
}

// Lists the directory `index` and patches its documents; its last handled entry is kept for the chain.
void ListDirectory(Walk& walk, std::size_t index) {
    std::vector<ListedEntry> entries;
    LastEntry last;
    const HeldHandle folder = Acquire(walk, index);
    if (folder != kNotHeld && walk.platform.ListFolder(folder, entries)) {
        for (const ListedEntry& entry : entries) {
            const bool isDirectory = (entry.attributes & kDirectoryAttribute) != 0;
            // Directories whose name begins with a dot, "." and ".." among them, are passed over like
            // other files than documents.
            const bool handled =
                isDirectory ? !entry.name.empty() && entry.name[0] != L'.' : IsDocumentName(entry.name);
            if (!handled) continue;
            const bool isLink = (entry.attributes & kReparsePointAttribute) != 0;
            const std::size_t length = walk.directories[index].length + 1 + entry.name.size();
            last = {isDirectory ? LastEntry::Kind::Directory : LastEntry::Kind::Document, entry.name.size()};
            if (!isDirectory) {
                // Windows opens no longer document path; the literal form would, so it is refused here.
                last.documentResult = length <= kLongestPath ? PatchEntry(walk, index, entry.name) : 0;
            } else if (!isLink) {
                last.target = EnterFolder(walk, index, entry.name, length);
            } else if (walk.directories[index].followLinks) {
                last.target = FollowLink(walk, index, entry.name, length);
            }
            // Otherwise a link that is not followed: not entered, as a folder that can't be listed.
        }
    }
    Directory& directory = walk.directories[index];
    directory.last = last;
    directory.listed = true;
}

// What a depth-first walk of every path yields for the top folder: its chain of last entries, followed
// at the lengths of the paths along it, ends in a document, in nothing to follow, beyond the limit, or at
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
            case LastEntry::Kind::Document:
                return length + 1 + directory.last.nameLength <= kLongestPath ? directory.last.documentResult
                                                                              : 0;
            case LastEntry::Kind::Directory:
                if (directory.last.target == kNone) return 0;
                length += 1 + directory.last.nameLength;
                index = directory.last.target;
                break;
        }
    }
}

}  // namespace

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

int WalkFolderTree(std::wstring_view path, const Way& top, const std::vector<std::wstring>& makerFolders,
                   FolderWalkPlatform& platform) noexcept {
    // No folder at all would give the pattern "\*.*": the root of the current drive, a whole drive
    // that nobody asked to be walked.
    if (path.empty()) return 0;
    Walk walk(platform, makerFolders);
    const bool started = RunGuarded(false, [&] {
        Directory directory;
        directory.way = top;
        Held folder(platform, OpenWithin(platform, makerFolders, directory.way, true).handle);
        // Once a run for each manual folder: on a platform that follows links although asked not to,
        // this is where a linked manual folder shows.
        if (!folder || !platform.LiesInside(folder.get())) return false;
        directory.length = path.size();
        (void)Keep(walk, AddDirectory(walk, std::move(directory)), std::move(folder));
        return true;
    });
    if (!started) return 0;
    // A directory's children are longer than it, so no bucket grows while it is being worked off.
    for (std::size_t length = path.size(); length <= kLongestListedFolder; ++length) {
        for (const std::size_t index : walk.queue[length]) {
            const Directory& directory = walk.directories[index];
            if (directory.listed || directory.length != length) continue;
            if (!RunGuarded(false, [&] {
                    ListDirectory(walk, index);
                    return true;
                })) {
                walk.directories[index].last = {};
                walk.directories[index].listed = true;
            }
        }
        std::vector<std::size_t>().swap(walk.queue[length]);
    }
    return RunGuarded(0, [&] { return FollowLastEntries(walk); });
}
