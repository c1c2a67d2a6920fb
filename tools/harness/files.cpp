#include "files.h"

#include <shlobj.h>

#include "unique_handle.h"

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

std::wstring MakeScratchFolder(std::wstring_view stem) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return {};
    return MakeUniqueFolder(std::wstring(temp, length), stem);
}
