// How the walk opens what it lists without ever opening anything outside the maker's folders.
// Platform-neutral: the platform only opens one name relative to a folder it holds, lists, reads.
//
// Why every open and every write stays inside:
// - The run holds each of the maker's folders, reached one name at a time from its known folder. Below
//   them, everything is opened by its one name relative to a folder held open, as itself: a link is
//   opened as the link, never followed by the platform. A plain file or folder opened so lies inside.
// - A link is followed only by reading its target first and resolving it here, one name at a time from
//   a held maker's folder (OpenWithin): a target that is no local path, or that leaves the maker's
//   folders, is refused before anything is opened. So no open reaches another host, a device or
//   another program's file, and every document and folder is listed and written through the handle that
//   was judged.
// Two opens may follow a reparse point: an entry reopened through its own handle, with no name to look
// up, because it is one that is no link (compressed, deduplicated, a placeholder); and a link that the
// platform followed although asked not to (Wine does, and shows no link), which is judged by where the
// platform says its handle lies, once a run for a manual folder and for every directory link it lists.
// A document with more than one name is written only when every name lies inside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A file or folder the platform holds open; kNotHeld for none.
using HeldHandle = std::uintptr_t;
inline constexpr HeldHandle kNotHeld = 0;

// What an entry turned out to be once opened as itself.
enum class EntryKind : unsigned char {
    Directory,
    Document,          // opened for reading and writing
    ReadOnlyDocument,  // opened for its attributes only: its read-only bit kept it from being opened to write
    Link,              // a junction or symbolic link, opened as itself
    OtherReparse,      // a reparse point that is no link: opened as its stub, to be opened again following it
};

struct OpenedEntry {
    HeldHandle handle = kNotHeld;
    EntryKind kind = EntryKind::Directory;
    bool reopened = false;  // by OpenAsItself, through a reparse point that is no link
};

// Where a link leads, as it stores it.
struct LinkTarget {
    enum class Kind : unsigned char {
        Absolute,  // `path` is an NT path, "\??\C:\..." for a local one
        Relative,  // `path` is relative to the link's folder
        Followed,  // the handle is no reparse point: the platform followed the link when opening it
        Refused,   // unreadable, or a kind of link this code does not resolve
    };
    Kind kind = Kind::Refused;
    std::wstring path;
};

// Which directory a handle holds, whatever links led to it and however its name reads.
struct DirectoryId {
    std::uint64_t volume;
    std::uint64_t high;  // the 128-bit file id; the 64-bit file index sits in `low`
    std::uint64_t low;
    bool isFileIndex;  // a file index and a 128-bit id never name the same directory
};

// One entry of a listing: its long name and its attributes.
struct ListedEntry {
    std::wstring name;
    std::uint32_t attributes;
};

inline constexpr std::uint32_t kDirectoryAttribute = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t kReparsePointAttribute = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT

// The walk's platform: every call takes handles it gave, and no call takes a path.
class FolderWalkPlatform {
  public:
    // The maker's folder `index` (0 or 1), held for the whole run; the walk never closes it.
    [[nodiscard]] virtual HeldHandle MakerFolder(std::size_t index) = 0;
    // Opens `name`, one name, relative to the held `folder`, as itself: a link is not followed. As a
    // folder to list, or as a document to patch (exclusively for reading and writing, or for its attributes
    // when it is read-only). kNotHeld when it can't be opened or is not of that kind.
    [[nodiscard]] virtual OpenedEntry OpenEntry(HeldHandle folder, std::wstring_view name, bool asFolder) = 0;
    // Opens `name`, a folder that the held `folder`'s listing showed as plain, to list it: as itself, what
    // it is not read, since a link swapped in for it since is opened as the link, which lists as empty.
    // kNotHeld when it can't be opened as a folder.
    [[nodiscard]] virtual HeldHandle OpenListedFolder(HeldHandle folder, std::wstring_view name) = 0;
    // Opens again, with no name to look up, what `stub` holds as an OtherReparse, following its reparse
    // point (a compressed file is then read as its contents), as OpenEntry would open it otherwise.
    [[nodiscard]] virtual OpenedEntry Reopen(HeldHandle stub, bool asFolder) = 0;
    // Another handle to what `held` holds.
    [[nodiscard]] virtual HeldHandle Duplicate(HeldHandle held) = 0;
    virtual void Close(HeldHandle held) noexcept = 0;
    // The folder's entries in listing order, "." and ".." included or not; false when it can't be
    // listed. A listing that breaks off gives the entries so far.
    [[nodiscard]] virtual bool ListFolder(HeldHandle folder, std::vector<ListedEntry>& entries) = 0;
    [[nodiscard]] virtual LinkTarget ReadLinkTarget(HeldHandle link) = 0;
    // Nothing when the platform gives no identity.
    [[nodiscard]] virtual std::optional<DirectoryId> ReadDirectoryId(HeldHandle folder) = 0;
    // Where the platform says the held file or folder lies is inside the maker's folders. Asked of each
    // top folder, and of what the platform followed a link to.
    [[nodiscard]] virtual bool LiesInside(HeldHandle held) = 0;
    // 1 when the held document was patched to the end, 0 when a step failed or it has a name outside.
    [[nodiscard]] virtual int PatchDocument(HeldHandle document, bool readOnly) = 0;

  protected:
    ~FolderWalkPlatform() = default;
};

// Owns one handle of the platform's.
class Held {
  public:
    Held(FolderWalkPlatform& platform, HeldHandle handle) noexcept : platform_(&platform), handle_(handle) {}
    Held(Held&& other) noexcept : platform_(other.platform_), handle_(other.release()) {}
    Held& operator=(Held&& other) noexcept {
        reset(other.release());
        platform_ = other.platform_;
        return *this;
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() { reset(); }

    [[nodiscard]] HeldHandle get() const noexcept { return handle_; }
    [[nodiscard]] explicit operator bool() const noexcept { return handle_ != kNotHeld; }
    HeldHandle release() noexcept {
        const HeldHandle handle = handle_;
        handle_ = kNotHeld;
        return handle;
    }
    void reset(HeldHandle handle = kNotHeld) noexcept {
        if (handle_ != kNotHeld) platform_->Close(handle_);
        handle_ = handle;
    }

  private:
    FolderWalkPlatform* platform_;
    HeldHandle handle_;
};

// A way down from one of the maker's folders: its index and the names below it, "." and ".." among them.
struct Way {
    std::size_t makerFolder = 0;
    std::vector<std::wstring> names;
};

// How many links one resolution may pass through, as Windows bounds its own reparsing.
inline constexpr int kMostLinkHops = 32;

// Appends the names of `path`, split at its backslashes, empty ones left out, to `names`. False for a
// name that can't be opened as one name (a stream, a device's colon, a forward slash that is no separator
// on this platform's disks).
[[nodiscard]] bool SplitNames(std::wstring_view path, std::vector<std::wstring>& names);

// Opens `name` in `folder` as itself, and a reparse point that is no link again through its own handle,
// following it: a Directory, Document, ReadOnlyDocument or Link, or nothing held.
[[nodiscard]] OpenedEntry OpenAsItself(FolderWalkPlatform& platform, HeldHandle folder,
                                       std::wstring_view name, bool asFolder);

// Opens what `way` leads to, one name at a time from its held maker's folder, each name as itself. A
// link on the way is read and resolved here (see the top of this file); ".." never leaves the maker's
// folder it would climb out of. `asFolder` as for OpenEntry; a document comes back as Document or
// ReadOnlyDocument. On success `way` holds the names that lead there without a link. Nothing held when the
// way leads outside, through more than kMostLinkHops links, or to nothing of the kind asked for.
[[nodiscard]] OpenedEntry OpenWithin(FolderWalkPlatform& platform,
                                     const std::vector<std::wstring>& makerFolders, Way& way, bool asFolder);

// Where `target`, a link's target, leads: from its link's folder, reached by `linkFolder`, or for an
// absolute target, from the maker's folder it names (`makerFolders` are final paths, "\\?\C:\..."). False
// when it leads to no local path below one of them: another host, a device, a volume by its name.
[[nodiscard]] bool ResolveLinkTarget(const LinkTarget& target, const Way& linkFolder,
                                     const std::vector<std::wstring>& makerFolders, Way& resolved);

// What a reparse point's data (the platform's REPARSE_DATA_BUFFER) says its target is: a junction's or
// a symbolic link's substitute name. Refused for every other kind, and for data that does not hold
// what its header says.
[[nodiscard]] LinkTarget ParseReparseData(const unsigned char* data, std::size_t size);

// Whether `location`, where the platform says a file or folder lies, is one of `folders` (given in the
// same form) or lies below one. Compared exactly: both come from the same query of the platform.
[[nodiscard]] bool LiesInside(std::wstring_view location, const std::vector<std::wstring>& folders) noexcept;
