// The manual folder walk's calls of the platform: every listing, identity and page open by the
// literal name, so that a folder or page named "y.", "y ", "aux" or "nul.htm" is itself.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_location.h"
#include "folder_walk.h"
#include "patch.h"
#include "unique_handle.h"

namespace {

// A directory opened for its attributes, by its literal name: full sharing, so that no other opener is
// disturbed; backup semantics is what lets a directory be opened at all. A link is followed.
UniqueFileHandle OpenDirectory(const std::wstring& literal) {
    return UniqueFileHandle(::CreateFileW(
        literal.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | kNoImpersonation, nullptr));
}

// Nothing when the directory can't be opened or the platform gives no id for it.
std::optional<DirectoryId> ReadLiteralDirectoryId(const std::wstring& literal) {
    // A link is followed: the id is its target's.
    const UniqueFileHandle directory = OpenDirectory(literal);
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

std::wstring ReadLiteralLocation(const std::wstring& literal) {
    const UniqueFileHandle directory = OpenDirectory(literal);
    std::wstring location;
    if (!directory || !ReadHandleLocation(directory.get(), location)) return {};
    return location;
}

class Win32FolderWalk final : public FolderWalkPlatform {
  public:
    explicit Win32FolderWalk(const std::vector<std::wstring>& makerFolders) : makerFolders_(makerFolders) {}

    bool ListFolder(const std::wstring& folder, std::vector<ListedEntry>& entries) override {
        // "*" lists every name; whether a literal "*.*" matches names without a dot is not to be
        // relied on.
        WIN32_FIND_DATAW entry{};
        const UniqueFindHandle listing(::FindFirstFileW((GetLiteralPath(folder) + L"\\*").c_str(), &entry));
        if (!listing) return false;
        do {
            entries.push_back({entry.cFileName, entry.dwFileAttributes});
        } while (::FindNextFileW(listing.get(), &entry));
        return true;
    }
    std::optional<DirectoryId> ReadDirectoryId(const std::wstring& folder) override {
        return ReadLiteralDirectoryId(GetLiteralPath(folder));
    }
    // Checked only for the top folder and for links: a plain folder lies where its parent does. One
    // swapped for a link after its parent was listed may still be listed; the check on each page's own
    // handle keeps every write inside.
    bool LiesInside(const std::wstring& folder) override {
        return LiesWithin(ReadLiteralLocation(GetLiteralPath(folder)), makerFolders_);
    }
    int PatchPage(const std::wstring& page) override {
        return PatchDocument(GetLiteralPath(page), makerFolders_);
    }

  private:
    const std::vector<std::wstring>& makerFolders_;
};

}  // namespace

std::wstring ReadFolderLocation(const std::wstring& folder) noexcept {
    try {
        return ReadLiteralLocation(GetLiteralPath(folder));
    } catch (...) {
        return {};  // memory ran out for the path: no location, as for a folder that can't be opened
    }
}

int PatchFolderTree(const std::wstring& folder, const std::vector<std::wstring>& makerFolders) noexcept {
    Win32FolderWalk platform(makerFolders);
    return WalkFolderTree(folder, platform);
}
