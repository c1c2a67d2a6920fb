// Opens relative to held folders and queries of held handles; containment.h says why they are safe.
#include "held_files.h"

#include <winioctl.h>
#include <winternl.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "file_location.h"

namespace {

constexpr NTSTATUS kOplockBreakInProgress = 0x00000108;  // STATUS_OPLOCK_BREAK_IN_PROGRESS

// Read and write, no sharing, as the platform's read-write open grants it: nobody else reads or writes
// the document meanwhile, and one that somebody holds open can't be opened here.
constexpr ACCESS_MASK kDocumentAccess = GENERIC_READ | GENERIC_WRITE;
// What a read-only document is opened with: its attributes, whatever its sharing.
constexpr ACCESS_MASK kAttributeAccess = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// Relative to `root`, `name` (empty: `root` itself, opened again); `options` beside synchronous I/O and
// giving up on an oplock.
NTSTATUS OpenRelative(HANDLE root, std::wstring_view name, ACCESS_MASK access, ULONG share, ULONG options,
                      UniqueFileHandle& opened) {
    UNICODE_STRING text{};
    text.Buffer = const_cast<PWSTR>(name.data());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes{};
    // The one name is looked up as it is spelled, in the case-insensitive way Win32 opens look it up.
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
    // Should a name lead to a named pipe, its server may only identify this elevated process.
    SECURITY_QUALITY_OF_SERVICE quality{};
    quality.Length = sizeof quality;
    quality.ImpersonationLevel = SecurityIdentification;
    attributes.SecurityQualityOfService = &quality;
    // An oplock that another process holds on it makes the open wait until they let go, for as long as
    // they like; with FILE_COMPLETE_IF_OPLOCKED it returns at once instead, the break under way. A
    // holder that lets go at the break (an indexer, a virus scanner) is waited for a moment; one that
    // does not, as for a document held open elsewhere, costs this entry, not the run.
    NTSTATUS result = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) ::Sleep(50);
        IO_STATUS_BLOCK status{};
        HANDLE handle = nullptr;
        result =
            ::NtCreateFile(&handle, access, &attributes, &status, nullptr, 0, share, FILE_OPEN,
                           options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED, nullptr, 0);
        if (!NT_SUCCESS(result)) return result;
        opened.reset(handle);
        if (result != kOplockBreakInProgress) return result;
        opened.reset();
    }
    return result;
}

// The 64-bit index the file system gives the file that `handle` holds.
bool ReadFileIndex(HANDLE handle, std::uint64_t& index) {
    FILE_INTERNAL_INFORMATION internal{};
    IO_STATUS_BLOCK status{};
    if (!NT_SUCCESS(
            ::NtQueryInformationFile(handle, &status, &internal, sizeof internal, FileInternalInformation)))
        return false;
    index = static_cast<std::uint64_t>(internal.IndexNumber.QuadPart);
    return true;
}

// What the held handle turned out to be. Opened following its reparse point, it holds what that shows.
bool ReadKind(HANDLE handle, bool asFolder, bool attributesOnly, bool followed, EntryKind& kind) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return false;
    const bool reparse = !followed && (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (reparse && IsReparseTagNameSurrogate(tag.ReparseTag)) {
        kind = EntryKind::Link;
    } else if (reparse) {
        kind = EntryKind::OtherReparse;
    } else if (asFolder) {
        kind = EntryKind::Directory;
    } else if (attributesOnly) {
        // Refused for writing although not read-only: no access, which the attributes won't mend.
        if ((tag.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) return false;
        kind = EntryKind::ReadOnlyDocument;
    } else {
        kind = EntryKind::Document;
    }
    return true;
}

UniqueFileHandle OpenEntry(HANDLE root, std::wstring_view name, bool asFolder, ULONG reparse,
                           EntryKind& kind) {
    UniqueFileHandle opened;
    const ULONG options = reparse | (asFolder ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE);
    bool attributesOnly = false;
    if (asFolder) {
        (void)OpenRelative(root, name, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, options, opened);
    } else if (!NT_SUCCESS(OpenRelative(root, name, kDocumentAccess, 0, options, opened))) {
        // Windows opens no read-only file for writing, and refuses that before it looks at who else
        // holds it; the attributes tell.
        attributesOnly = true;
        (void)OpenRelative(root, name, kAttributeAccess,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, options, opened);
    }
    if (opened && !ReadKind(opened.get(), asFolder, attributesOnly, reparse == 0, kind)) opened.reset();
    if (opened && kind == EntryKind::OtherReparse && !asFolder && !attributesOnly) {
        // The stub is opened again through it: held for its attributes alone, it shares with that open.
        UniqueFileHandle stub;
        (void)OpenRelative(opened.get(), {}, kAttributeAccess,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, options, stub);
        opened = std::move(stub);
    }
    return opened;
}

}  // namespace

UniqueFileHandle OpenHeldEntry(HANDLE folder, std::wstring_view name, bool asFolder, EntryKind& kind) {
    // An empty name would open the folder itself.
    if (name.empty()) return {};
    return OpenEntry(folder, name, asFolder, FILE_OPEN_REPARSE_POINT, kind);
}

UniqueFileHandle OpenListedHeldFolder(HANDLE folder, std::wstring_view name) {
    UniqueFileHandle opened;
    if (!name.empty()) {
        (void)OpenRelative(folder, name, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           FILE_OPEN_REPARSE_POINT | FILE_DIRECTORY_FILE, opened);
    }
    return opened;
}

UniqueFileHandle ReopenHeldEntry(HANDLE stub, bool asFolder, EntryKind& kind) {
    UniqueFileHandle opened = OpenEntry(stub, {}, asFolder, 0, kind);
    // Should the stub's owner have made it a link meanwhile, the open followed that: it must hold the
    // stub's own file.
    std::uint64_t before = 0;
    std::uint64_t after = 0;
    if (opened && (!ReadFileIndex(stub, before) || !ReadFileIndex(opened.get(), after) || before != after))
        opened.reset();
    return opened;
}

bool ListHeldFolder(HANDLE folder, std::vector<ListedEntry>& entries) {
    // LONGLONGs keep the records aligned; left uninitialised, as the platform fills what it reports.
    constexpr std::size_t kBufferSize = 16 * 1024;
    const std::unique_ptr<LONGLONG[]> buffer(new LONGLONG[kBufferSize / sizeof(LONGLONG)]);
    const auto size = static_cast<DWORD>(kBufferSize);
    FILE_INFO_BY_HANDLE_CLASS query = FileFullDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(folder, query, buffer.get(), size)) {
        query = FileFullDirectoryInfo;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.get());
        for (std::size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes + offset);
            entries.push_back({std::wstring(entry->FileName, entry->FileNameLength / sizeof(wchar_t)),
                               entry->FileAttributes});
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
    // The end of the listing, or a listing that breaks off: the entries so far.
    return query == FileFullDirectoryInfo || ::GetLastError() == ERROR_NO_MORE_FILES;
}

LinkTarget ReadHeldLinkTarget(HANDLE link) {
    std::vector<unsigned char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD size = 0;
    if (::DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                          static_cast<DWORD>(data.size()), &size, nullptr)) {
        return ParseReparseData(data.data(), size);
    }
    // Opened although asked not to follow: what it holds is where the link led.
    if (::GetLastError() == ERROR_NOT_A_REPARSE_POINT) return {LinkTarget::Kind::Followed, {}};
    return {};
}

std::optional<DirectoryId> ReadHeldDirectoryId(HANDLE folder, std::optional<std::uint64_t> volume) {
    DirectoryId id{};
    if (volume) {
        // The volume's serial number, which Wine asks another process for, once a walk instead of once
        // a folder.
        if (!ReadFileIndex(folder, id.low) || id.low == 0) return std::nullopt;
        id.volume = *volume;
        id.isFileIndex = true;
        return id;
    }
    FILE_ID_INFO idInfo{};
    if (::GetFileInformationByHandleEx(folder, FileIdInfo, &idInfo, sizeof idInfo)) {
        static_assert(sizeof idInfo.FileId == sizeof id.high + sizeof id.low);
        id.volume = idInfo.VolumeSerialNumber;
        std::memcpy(&id.low, idInfo.FileId.Identifier, sizeof id.low);
        std::memcpy(&id.high, idInfo.FileId.Identifier + sizeof id.low, sizeof id.high);
    } else {
        // File systems without 128-bit ids still have the 64-bit index.
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(folder, &info)) return std::nullopt;
        id.volume = info.dwVolumeSerialNumber;
        id.low = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
        id.isFileIndex = true;
    }
    // Some file systems answer 0 for every file: that would make all their directories one.
    if (id.high == 0 && id.low == 0) return std::nullopt;
    return id;
}

std::optional<std::uint64_t> ReadSharedVolume(const std::vector<HANDLE>& folders) {
    std::optional<std::uint64_t> shared;
    for (const HANDLE folder : folders) {
        FILE_ID_INFO idInfo{};
        if (!::GetFileInformationByHandleEx(folder, FileIdInfo, &idInfo, sizeof idInfo)) return std::nullopt;
        if (shared && *shared != idInfo.VolumeSerialNumber) return std::nullopt;
        shared = idInfo.VolumeSerialNumber;
    }
    return shared;
}
