// Opening inside the maker's folders only; containment.h says why it is safe.
#include "containment.h"

#include <algorithm>
#include <utility>

#include "ascii_case.h"

namespace {

constexpr std::uint32_t kMountPointTag = 0xA0000003;    // IO_REPARSE_TAG_MOUNT_POINT: a junction
constexpr std::uint32_t kSymbolicLinkTag = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK
constexpr std::uint32_t kRelativeSymbolicLink = 0x1;    // SYMLINK_FLAG_RELATIVE
constexpr std::size_t kReparseHeader = 8;               // tag, data length, reserved
constexpr std::wstring_view kNtDosDevices = L"\\??\\";  // the NT form of "\\?\"
constexpr std::wstring_view kLiteralPrefix = L"\\\\?\\";

std::uint32_t ReadLittleEndian(const unsigned char* bytes, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
    return value;
}

// The folder `names` lead to from the maker's folder `makerFolder`, none of them a link: opened anew,
// for ".." climbing back, which only relative links need.
Held OpenPlainFolders(FolderWalkPlatform& platform, std::size_t makerFolder,
                      const std::vector<std::wstring>& names) {
    Held folder(platform, platform.Duplicate(platform.MakerFolder(makerFolder)));
    for (const std::wstring& name : names) {
        if (!folder) break;
        const OpenedEntry next = OpenAsItself(platform, folder.get(), name, true);
        folder.reset(next.kind == EntryKind::Directory ? next.handle : kNotHeld);
        if (next.handle != kNotHeld && next.kind != EntryKind::Directory) platform.Close(next.handle);
    }
    return folder;
}

}  // namespace

bool SplitNames(std::wstring_view path, std::vector<std::wstring>& names) {
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t end = std::min(path.find(L'\\', at), path.size());
        const std::wstring_view name = path.substr(at, end - at);
        if (name.find_first_of(L":/") != std::wstring_view::npos) return false;
        if (!name.empty()) names.emplace_back(name);
        at = end + 1;
    }
    return true;
}

OpenedEntry OpenAsItself(FolderWalkPlatform& platform, HeldHandle folder, std::wstring_view name,
                         bool asFolder) {
    OpenedEntry entry = platform.OpenEntry(folder, name, asFolder);
    if (entry.handle == kNotHeld || entry.kind != EntryKind::OtherReparse) return entry;
    Held stub(platform, entry.handle);
    entry = platform.Reopen(stub.get(), asFolder);
    if (entry.handle != kNotHeld &&
        (entry.kind == EntryKind::Link || entry.kind == EntryKind::OtherReparse)) {
        platform.Close(entry.handle);
        return {};
    }
    entry.reopened = true;
    return entry;
}

OpenedEntry OpenWithin(FolderWalkPlatform& platform, const std::vector<std::wstring>& makerFolders, Way& way,
                       bool asFolder) {
    // The names still to open, the next one last.
    std::vector<std::wstring> left(way.names.rbegin(), way.names.rend());
    std::vector<std::wstring> plain;  // the names opened so far, each a plain folder
    std::size_t makerFolder = way.makerFolder;
    Held folder(platform, kNotHeld);  // what `plain` leads to; the maker's folder itself while empty
    int hops = 0;
    while (!left.empty()) {
        const std::wstring name = std::move(left.back());
        left.pop_back();
        if (name.empty() || name == L".") continue;
        if (name == L"..") {
            // Climbing out of the maker's folder would leave the folders the run may open.
            if (plain.empty()) return {};
            plain.pop_back();
            folder = OpenPlainFolders(platform, makerFolder, plain);
            if (!folder) return {};
            continue;
        }
        const bool wantFolder = asFolder || !left.empty();
        const HeldHandle parent = folder ? folder.get() : platform.MakerFolder(makerFolder);
        const OpenedEntry entry = OpenAsItself(platform, parent, name, wantFolder);
        if (entry.handle == kNotHeld) return {};
        Held opened(platform, entry.handle);
        if (entry.kind == EntryKind::Link) {
            if (++hops > kMostLinkHops) return {};
            const LinkTarget target = platform.ReadLinkTarget(opened.get());
            Way resolved;
            if (!ResolveLinkTarget(target, {makerFolder, plain}, makerFolders, resolved)) return {};
            // Resolved from the top of a maker's folder, a relative target through its link's folder:
            // start there again, the target's names first, then what was left after the link.
            left.insert(left.end(), resolved.names.rbegin(), resolved.names.rend());
            makerFolder = resolved.makerFolder;
            plain.clear();
            folder.reset();
            continue;
        }
        if (entry.kind == EntryKind::Directory && wantFolder && !left.empty()) {
            plain.push_back(name);
            folder = std::move(opened);
            continue;
        }
        const bool isDocument =
            entry.kind == EntryKind::Document || entry.kind == EntryKind::ReadOnlyDocument;
        if (!left.empty() || (asFolder ? entry.kind != EntryKind::Directory : !isDocument)) return {};
        plain.push_back(name);
        way = {makerFolder, std::move(plain)};
        return {opened.release(), entry.kind};
    }
    // Nothing left after the maker's folder or a folder: only a folder was asked for.
    if (!asFolder) return {};
    way = {makerFolder, std::move(plain)};
    if (folder) return {folder.release(), EntryKind::Directory};
    const HeldHandle copy = platform.Duplicate(platform.MakerFolder(makerFolder));
    return copy == kNotHeld ? OpenedEntry{} : OpenedEntry{copy, EntryKind::Directory};
}

bool ResolveLinkTarget(const LinkTarget& target, const Way& linkFolder,
                       const std::vector<std::wstring>& makerFolders, Way& resolved) {
    std::vector<std::wstring> names;
    if (target.kind == LinkTarget::Kind::Relative) {
        // A relative target that begins with a backslash is relative to the drive: no folder of ours.
        if (target.path.empty() || target.path.front() == L'\\') return false;
        names = linkFolder.names;
        if (!SplitNames(target.path, names)) return false;
        resolved = {linkFolder.makerFolder, std::move(names)};
        return true;
    }
    if (target.kind != LinkTarget::Kind::Absolute) return false;
    // Only "\??\X:\..." names a local path by its drive: "\??\UNC\...", "\??\Volume{...}",
    // "\??\GLOBALROOT\...", "\Device\..." and "\RPC Control\..." do not, and are never opened.
    const std::wstring_view path = target.path;
    if (path.substr(0, kNtDosDevices.size()) != kNtDosDevices) return false;
    const std::wstring_view local = path.substr(kNtDosDevices.size());
    if (local.size() < 3 || local[1] != L':' || local[2] != L'\\') return false;
    const wchar_t drive = local[0];
    if (!((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z'))) return false;
    for (std::size_t index = 0; index < makerFolders.size(); ++index) {
        std::wstring_view folder = makerFolders[index];
        if (folder.substr(0, kLiteralPrefix.size()) != kLiteralPrefix) continue;
        folder.remove_prefix(kLiteralPrefix.size());
        while (!folder.empty() && folder.back() == L'\\') folder.remove_suffix(1);
        // The names Windows stores are compared as it would, A to Z folded; any other difference in
        // case is refused, which only costs a link that is no concern of ours.
        if (local.size() < folder.size() || !EqualsIgnoringAsciiCase(local.substr(0, folder.size()), folder))
            continue;
        if (local.size() > folder.size() && local[folder.size()] != L'\\') continue;
        if (!SplitNames(local.substr(folder.size()), names)) return false;
        resolved = {index, std::move(names)};
        return true;
    }
    return false;
}

LinkTarget ParseReparseData(const unsigned char* data, std::size_t size) {
    if (data == nullptr || size < kReparseHeader) return {};
    const std::uint32_t tag = ReadLittleEndian(data, 4);
    const std::size_t dataLength = ReadLittleEndian(data + 4, 2);
    if (kReparseHeader + dataLength > size) return {};
    const bool symbolicLink = tag == kSymbolicLinkTag;
    if (!symbolicLink && tag != kMountPointTag) return {};
    // Substitute name's offset and length, the print name's, then for a symbolic link its flags.
    const std::size_t fields = symbolicLink ? 12 : 8;
    if (dataLength < fields) return {};
    const unsigned char* body = data + kReparseHeader;
    const std::size_t offset = ReadLittleEndian(body, 2);
    const std::size_t length = ReadLittleEndian(body + 2, 2);
    const bool relative = symbolicLink && (ReadLittleEndian(body + 8, 4) & kRelativeSymbolicLink) != 0;
    if (length % 2 != 0 || length == 0 || fields + offset + length > dataLength) return {};
    LinkTarget target;
    target.kind = relative ? LinkTarget::Kind::Relative : LinkTarget::Kind::Absolute;
    for (std::size_t at = fields + offset; at < fields + offset + length; at += 2)
        target.path.push_back(static_cast<wchar_t>(ReadLittleEndian(body + at, 2)));
    return target;
}

bool LiesInside(std::wstring_view location, const std::vector<std::wstring>& folders) noexcept {
    for (const std::wstring& folder : folders) {
        if (folder.empty() || location.compare(0, folder.size(), folder) != 0) continue;
        // "C:\a" holds "C:\a\b", not "C:\ab"; a drive root "C:\" ends in its own backslash.
        if (location.size() == folder.size() || folder.back() == L'\\' || location[folder.size()] == L'\\')
            return true;
    }
    return false;
}
