// The manual folder walk's calls of the platform: every one on a handle the walk holds, each a thin
// call of held_files.h; the maker's folders held for the whole walk.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_location.h"
#include "folder_walk.h"
#include "held_files.h"
#include "patch.h"
#include "run_guarded.h"
#include "unique_handle.h"

// The walk's platform-neutral constants are the platform's.
static_assert(kLongestPath == MAX_PATH - 1);
static_assert(kDirectoryAttribute == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kReparsePointAttribute == FILE_ATTRIBUTE_REPARSE_POINT);

namespace {

HANDLE AsHandle(HeldHandle held) noexcept {
    return reinterpret_cast<HANDLE>(held);
}

OpenedEntry Hold(UniqueFileHandle handle, EntryKind kind) noexcept {
    if (!handle) return {};
    return {reinterpret_cast<HeldHandle>(handle.release()), kind};
}

class Win32FolderWalk final : public FolderWalkPlatform {
  public:
    Win32FolderWalk(const std::vector<HANDLE>& makerFolders, const std::vector<std::wstring>& locations)
        : makerFolders_(makerFolders), locations_(locations) {}

    HeldHandle MakerFolder(std::size_t index) override {
        return index < makerFolders_.size() ? reinterpret_cast<HeldHandle>(makerFolders_[index]) : kNotHeld;
    }
    OpenedEntry OpenEntry(HeldHandle folder, std::wstring_view name, bool asFolder) override {
        EntryKind kind{};
        UniqueFileHandle opened = OpenHeldEntry(AsHandle(folder), name, asFolder, kind);
        return Hold(std::move(opened), kind);
    }
    HeldHandle OpenListedFolder(HeldHandle folder, std::wstring_view name) override {
        return reinterpret_cast<HeldHandle>(OpenListedHeldFolder(AsHandle(folder), name).release());
    }
    OpenedEntry Reopen(HeldHandle stub, bool asFolder) override {
        EntryKind kind{};
        UniqueFileHandle opened = ReopenHeldEntry(AsHandle(stub), asFolder, kind);
        return Hold(std::move(opened), kind);
    }
    HeldHandle Duplicate(HeldHandle held) override {
        HANDLE copy = nullptr;
        const HANDLE process = ::GetCurrentProcess();
        if (!::DuplicateHandle(process, AsHandle(held), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            return kNotHeld;
        return reinterpret_cast<HeldHandle>(copy);
    }
    void Close(HeldHandle held) noexcept override { UniqueFileHandle closing(AsHandle(held)); }
    bool ListFolder(HeldHandle folder, std::vector<ListedEntry>& entries) override {
        return ListHeldFolder(AsHandle(folder), entries);
    }
    LinkTarget ReadLinkTarget(HeldHandle link) override { return ReadHeldLinkTarget(AsHandle(link)); }
    std::optional<DirectoryId> ReadDirectoryId(HeldHandle folder) override {
        // Opened as itself, a folder never leads to another volume: a mount point is a link, resolved
        // from a maker's folder. So where both lie on one volume, every folder the walk holds does.
        if (!sharedVolumeRead_) {
            sharedVolume_ = ReadSharedVolume(makerFolders_);
            sharedVolumeRead_ = true;
        }
        return ReadHeldDirectoryId(AsHandle(folder), sharedVolume_);
    }
    bool LiesInside(HeldHandle held) override {
        std::wstring location;
        return ReadHandleLocation(AsHandle(held), location) && ::LiesInside(location, locations_);
    }
    int PatchDocument(HeldHandle document, bool readOnly) override {
        return ::PatchDocument(AsHandle(document), readOnly, locations_);
    }

  private:
    const std::vector<HANDLE>& makerFolders_;
    const std::vector<std::wstring>& locations_;
    bool sharedVolumeRead_ = false;  // identities are read only from the first link on
    std::optional<std::uint64_t> sharedVolume_;
};

// The maker's folders opened by their locations, for the forms that take paths.
std::vector<UniqueFileHandle> OpenMakerFolders(const std::vector<std::wstring>& locations) {
    std::vector<UniqueFileHandle> folders;
    for (const std::wstring& location : locations) folders.push_back(OpenFolderByPath(location));
    return folders;
}

std::vector<HANDLE> GetHandles(const std::vector<UniqueFileHandle>& owners) {
    std::vector<HANDLE> handles;
    for (const UniqueFileHandle& owner : owners) handles.push_back(owner.get());
    return handles;
}

// The way to `location` from the maker's folder it lies in; false when it lies in none.
bool FindWayTo(const std::wstring& location, const std::vector<std::wstring>& makerFolders, Way& way) {
    for (std::size_t index = 0; index < makerFolders.size(); ++index) {
        const std::wstring& folder = makerFolders[index];
        if (!LiesInside(location, {folder})) continue;
        way = {index, {}};
        return SplitNames(std::wstring_view(location).substr(folder.size()), way.names);
    }
    return false;
}

}  // namespace

std::wstring ReadFolderLocation(const std::wstring& folder) noexcept {
    return RunGuarded(std::wstring(), [&] {
        const UniqueFileHandle directory(
            ::CreateFileW(GetLiteralPath(folder).c_str(), FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | kNoImpersonation, nullptr));
        std::wstring location;
        if (!directory || !ReadHandleLocation(directory.get(), location)) location.clear();
        return location;
    });
}

int PatchFolderTree(std::wstring_view path, const Way& top, const std::vector<HANDLE>& makerFolders,
                    const std::vector<std::wstring>& locations) noexcept {
    Win32FolderWalk platform(makerFolders, locations);
    return WalkFolderTree(path, top, locations, platform);
}

int PatchFolderTree(const std::wstring& folder, const std::vector<std::wstring>& makerFolders) noexcept {
    return RunGuarded(0, [&] {
        const std::vector<UniqueFileHandle> held = OpenMakerFolders(makerFolders);
        Way top;
        if (!FindWayTo(ReadFolderLocation(folder), makerFolders, top)) return 0;
        return PatchFolderTree(folder, top, GetHandles(held), makerFolders);
    });
}

int PatchDocument(const std::wstring& path, const std::vector<std::wstring>& makerFolders) noexcept {
    return RunGuarded(0, [&] {
        const std::vector<UniqueFileHandle> held = OpenMakerFolders(makerFolders);
        const std::size_t slash = path.rfind(L'\\');
        Way way;
        if (slash == std::wstring::npos ||
            !FindWayTo(ReadFolderLocation(path.substr(0, slash)), makerFolders, way))
            return 0;
        way.names.push_back(path.substr(slash + 1));
        const std::vector<HANDLE> handles = GetHandles(held);
        Win32FolderWalk platform(handles, makerFolders);
        const OpenedEntry document = OpenWithin(platform, makerFolders, way, false);
        const Held owner(platform, document.handle);
        return owner ? platform.PatchDocument(owner.get(), document.kind == EntryKind::ReadOnlyDocument) : 0;
    });
}
