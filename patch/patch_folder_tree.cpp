// The manual folder walk's calls of the platform: every listing, identity and page open by the
// literal name, so that a folder or page named "y.", "y ", "aux" or "nul.htm" is itself.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "folder_walk.h"
#include "patch.h"
#include "unique_handle.h"

namespace {

// The "\\?\" form of a fully qualified path, which Windows takes literally: otherwise a trailing
// space or dot is dropped from a name, and "aux", "nul" or "con.a" open a device. A path that is not
// fully qualified has no literal form and is kept as it is.
std::wstring GetLiteralPath(const std::wstring& path) {
    constexpr std::wstring_view kLiteral = L"\\\\?\\";
    if (path.rfind(kLiteral, 0) == 0) return path;
    if (path.rfind(L"\\\\.\\", 0) == 0) return std::wstring(kLiteral).append(path, kLiteral.size());
    if (path.rfind(L"\\\\", 0) == 0) return std::wstring(kLiteral).append(L"UNC").append(path, 1);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return std::wstring(kLiteral).append(path);
    return path;
}

// Nothing when the directory can't be opened or the platform gives no id for it.
std::optional<DirectoryId> ReadLiteralDirectoryId(const std::wstring& literal) {
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

class Win32FolderWalk final : public FolderWalkPlatform {
  public:
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
    int PatchPage(const std::wstring& page) override { return PatchDocument(GetLiteralPath(page)); }
};

}  // namespace

int PatchFolderTree(const std::wstring& folder) noexcept {
    Win32FolderWalk platform;
    return WalkFolderTree(folder, platform);
}
