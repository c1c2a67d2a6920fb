// Locations read from handles: the final path, and the names of a file with hard links.
#include "file_location.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <string_view>

#include "containment.h"
#include "unique_handle.h"

namespace {

// FILE_LINKS_INFORMATION and its entries, as the driver kit declares them; MinGW's headers lack them.
struct LinkEntry {
    ULONG nextEntryOffset;
    LONGLONG parentFileId;
    ULONG fileNameLength;  // in characters
    WCHAR fileName[1];
};
struct LinksInformation {
    ULONG bytesNeeded;
    ULONG entriesReturned;
    LinkEntry entry;
};
constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005);

// The file's names, as entries of its folders' ids. False when the platform can't list them (Wine has
// no such query).
bool ReadLinkEntries(HANDLE file, std::vector<LONGLONG>& buffer) {
    buffer.assign(512, 0);  // LONGLONGs keep the entries aligned
    for (int attempt = 0; attempt < 2; ++attempt) {
        IO_STATUS_BLOCK status{};
        const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(LONGLONG));
        const NTSTATUS result =
            ::NtQueryInformationFile(file, &status, buffer.data(), size, FileHardLinkInformation);
        if (NT_SUCCESS(result)) return true;
        if (result != kBufferOverflow) return false;
        ULONG needed = 0;
        std::memcpy(&needed, buffer.data(), sizeof needed);
        if (needed <= size) return false;
        buffer.assign(needed / sizeof(LONGLONG) + 1, 0);
    }
    return false;
}

}  // namespace

std::wstring GetLiteralPath(const std::wstring& path) {
    constexpr std::wstring_view kLiteral = L"\\\\?\\";
    if (path.rfind(kLiteral, 0) == 0) return path;
    if (path.rfind(L"\\\\.\\", 0) == 0) return std::wstring(kLiteral).append(path, kLiteral.size());
    if (path.rfind(L"\\\\", 0) == 0) return std::wstring(kLiteral).append(L"UNC").append(path, 1);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return std::wstring(kLiteral).append(path);
    return path;
}

UniqueFileHandle OpenFolderByPath(const std::wstring& path) {
    return UniqueFileHandle(
        ::CreateFileW(GetLiteralPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | kNoImpersonation, nullptr));
}

bool ReadHandleLocation(HANDLE handle, std::wstring& location) {
    location.resize(MAX_PATH);
    // The path may grow between the two calls; a third try would be a race not worth winning.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length =
            ::GetFinalPathNameByHandleW(handle, location.data(), static_cast<DWORD>(location.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) break;
        if (length < location.size()) {
            location.resize(length);
            return true;
        }
        location.resize(length);  // the size asked for, terminator included
    }
    location.clear();
    return false;
}

bool LiesInsideByEveryName(HANDLE file, DWORD links, const std::vector<std::wstring>& folders) {
    std::wstring location;
    if (!ReadHandleLocation(file, location) || !LiesInside(location, folders)) return false;
    if (links <= 1) return true;

    // A hard link planted inside would otherwise lead the patch to a file that lies elsewhere too. Each
    // name is its folder, found by its id on this volume, and the name in it.
    std::vector<LONGLONG> buffer;
    if (!ReadLinkEntries(file, buffer)) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    const auto* names = reinterpret_cast<const LinksInformation*>(bytes);
    // Every name must be listed: one left out could lie anywhere.
    if (names->entriesReturned < links) return false;
    const std::size_t size = buffer.size() * sizeof(LONGLONG);
    std::size_t offset = offsetof(LinksInformation, entry);
    for (ULONG i = 0; i < names->entriesReturned; ++i) {
        if (offset + sizeof(LinkEntry) > size) return false;
        const auto* entry = reinterpret_cast<const LinkEntry*>(bytes + offset);
        FILE_ID_DESCRIPTOR id{};
        id.dwSize = sizeof id;
        id.Type = FileIdType;
        id.FileId.QuadPart = entry->parentFileId;
        const UniqueFileHandle parent(::OpenFileById(file, &id, FILE_READ_ATTRIBUTES,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                     nullptr, FILE_FLAG_BACKUP_SEMANTICS));
        std::wstring name;
        if (!parent || !ReadHandleLocation(parent.get(), name)) return false;
        if (offset + offsetof(LinkEntry, fileName) + entry->fileNameLength * sizeof(WCHAR) > size)
            return false;
        if (name.back() != L'\\') name += L'\\';
        name.append(entry->fileName, entry->fileNameLength);
        if (!LiesInside(name, folders)) return false;
        if (entry->nextEntryOffset == 0) break;
        offset += entry->nextEntryOffset;
    }
    return true;
}
