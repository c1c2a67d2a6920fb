#include "files.h"

#include <ntdef.h>
#include <shlobj.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <vector>

#include "unique_handle.h"

namespace {

// The mount-point form of REPARSE_DATA_BUFFER as the platform documents it: the tag, the length of what
// follows the 8-byte header, two reserved bytes, then the offsets and lengths of the two names in bytes
// and the names themselves.
static_assert(offsetof(REPARSE_DATA_BUFFER, ReparseTag) == 0);
static_assert(offsetof(REPARSE_DATA_BUFFER, ReparseDataLength) == 4);
static_assert(offsetof(REPARSE_DATA_BUFFER, Reserved) == 6);
static_assert(REPARSE_DATA_BUFFER_HEADER_SIZE == 8);
static_assert(offsetof(REPARSE_DATA_BUFFER, MountPointReparseBuffer.SubstituteNameOffset) == 8);
static_assert(offsetof(REPARSE_DATA_BUFFER, MountPointReparseBuffer.SubstituteNameLength) == 10);
static_assert(offsetof(REPARSE_DATA_BUFFER, MountPointReparseBuffer.PrintNameOffset) == 12);
static_assert(offsetof(REPARSE_DATA_BUFFER, MountPointReparseBuffer.PrintNameLength) == 14);
constexpr std::size_t kMountPointPathOffset =
    offsetof(REPARSE_DATA_BUFFER, MountPointReparseBuffer.PathBuffer);
static_assert(kMountPointPathOffset == 16);
static_assert(IO_REPARSE_TAG_MOUNT_POINT == 0xA0000003);

// What FSCTL_SET_REPARSE_POINT takes for a junction to the fully qualified folder `target`: the substitute
// name is its NT form ("\??\C:\..."), the print name the path as given; each name ends in a NUL that
// its length leaves out. Empty when the names do not fit the buffer's 16-bit lengths.
std::vector<BYTE> MountPointBuffer(std::wstring_view target) {
    if (target.rfind(L"\\\\?\\", 0) == 0) target.remove_prefix(4);
    // A target that begins with a backslash is an NT path already ("\RPC Control").
    const std::wstring substitute =
        (target.empty() || target[0] != L'\\' ? L"\\??\\" : L"") + std::wstring(target);
    const std::size_t substituteBytes = substitute.size() * sizeof(wchar_t);
    const std::size_t printBytes = target.size() * sizeof(wchar_t);
    const std::size_t pathBytes = substituteBytes + sizeof(wchar_t) + printBytes + sizeof(wchar_t);
    const std::size_t dataLength = kMountPointPathOffset - REPARSE_DATA_BUFFER_HEADER_SIZE + pathBytes;
    if (REPARSE_DATA_BUFFER_HEADER_SIZE + dataLength > MAXIMUM_REPARSE_DATA_BUFFER_SIZE) return {};

    REPARSE_DATA_BUFFER header{};
    header.ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
    header.ReparseDataLength = static_cast<USHORT>(dataLength);
    header.MountPointReparseBuffer.SubstituteNameOffset = 0;
    header.MountPointReparseBuffer.SubstituteNameLength = static_cast<USHORT>(substituteBytes);
    header.MountPointReparseBuffer.PrintNameOffset = static_cast<USHORT>(substituteBytes + sizeof(wchar_t));
    header.MountPointReparseBuffer.PrintNameLength = static_cast<USHORT>(printBytes);

    std::vector<BYTE> buffer(kMountPointPathOffset + pathBytes, 0);  // the NULs included
    std::memcpy(buffer.data(), &header, kMountPointPathOffset);
    std::memcpy(buffer.data() + kMountPointPathOffset, substitute.data(), substituteBytes);
    std::memcpy(buffer.data() + kMountPointPathOffset + substituteBytes + sizeof(wchar_t), target.data(),
                printBytes);
    return buffer;
}

}  // namespace

bool WriteFileBytes(const std::wstring& path, std::string_view bytes) {
    const std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return false;
    const int made = ::SHCreateDirectoryExW(nullptr, path.substr(0, slash).c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) return false;
    const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7fffffff) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
        return std::nullopt;
    }
    return bytes;
}

bool DeleteTree(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
    // A link is removed, never followed.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW entry{};
        const UniqueFindHandle listing(::FindFirstFileW((path + L"\\*").c_str(), &entry));
        if (listing) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L".." && !DeleteTree(path + L"\\" + name)) return false;
            } while (::FindNextFileW(listing.get(), &entry));
        }
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) (void)::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str()) != 0
                                                   : ::DeleteFileW(path.c_str()) != 0;
}

std::wstring MakeUniqueFolder(const std::wstring& parent, std::wstring_view stem) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring folder = parent + std::wstring(stem) + L"-" +
                                    std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(attempt);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    }
    return {};
}

std::wstring ToWindowsPath(std::wstring path) {
    if (path.empty() || path.front() != L'/') return path;
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return L"Z:" + path;
}

std::wstring GetEnvironmentText(const wchar_t* name) {
    wchar_t value[MAX_PATH * 4];
    const DWORD length = ::GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    return length > 0 && length < ARRAYSIZE(value) ? std::wstring(value, length) : std::wstring();
}

UniqueFileHandle HoldOpen(const std::wstring& path) {
    return UniqueFileHandle(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

std::vector<WIN32_FIND_DATAW> ListFolder(const std::wstring& folder) {
    std::vector<WIN32_FIND_DATAW> entries;
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) return entries;
    do {
        if (std::wcscmp(entry.cFileName, L".") != 0 && std::wcscmp(entry.cFileName, L"..") != 0)
            entries.push_back(entry);
    } while (::FindNextFileW(listing.get(), &entry));
    return entries;
}

std::wstring MakeScratchFolder(std::wstring_view stem) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return {};
    return MakeUniqueFolder(std::wstring(temp, length), stem);
}

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!::CreateDirectoryW(link.c_str(), nullptr)) return false;
    if (TurnIntoJunction(link, target)) return true;
    const DWORD error = ::GetLastError();
    (void)::RemoveDirectoryW(link.c_str());
    ::SetLastError(error);
    return false;
}

bool TurnIntoJunction(const std::wstring& folder, const std::wstring& target) {
    const std::vector<BYTE> buffer = MountPointBuffer(target);
    if (buffer.empty()) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const UniqueFileHandle handle(::CreateFileW(folder.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                nullptr));
    DWORD returned = 0;
    return handle &&
           ::DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, const_cast<BYTE*>(buffer.data()),
                             static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
}

bool MakeDirectorySymbolicLink(const std::wstring& link, const std::wstring& target) {
    if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) return false;
    constexpr DWORD kDirectoryLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kDirectoryLink) == kDirectoryLink) return true;
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}
