// The depth-first walk of one manual folder.
#include <windows.h>

#include <shlwapi.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "ascii_case.h"
#include "patch.h"
#include "unique_handle.h"

namespace {

// Which directory a path leads to, whatever links it went through: a word naming the form of the id
// (so that a 128-bit id and a 64-bit file index never meet), the volume serial number and the id.
using DirectoryId = std::array<std::uint64_t, 4>;

// The folder result of every directory walked so far in one walk; kUnderWay while its walk runs.
using WalkRecord = std::map<DirectoryId, int>;
constexpr int kUnderWay = -1;

bool IsDocumentName(const wchar_t* name) noexcept {
    const std::wstring_view extension = ::PathFindExtensionW(name);
    return EqualsIgnoringAsciiCase(extension, L".htm") || EqualsIgnoringAsciiCase(extension, L".html");
}

// Nothing when the folder can't be opened or the platform gives no id for it.
std::optional<DirectoryId> ReadDirectoryId(const std::wstring& folder) noexcept {
    // Attributes only and full sharing, so that no other opener is disturbed; backup semantics is what
    // lets a directory be opened at all.
    const UniqueFileHandle directory(::CreateFileW(
        folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!directory) return std::nullopt;
    FILE_ID_INFO idInfo{};
    if (::GetFileInformationByHandleEx(directory.get(), FileIdInfo, &idInfo, sizeof idInfo)) {
        DirectoryId id{1, idInfo.VolumeSerialNumber, 0, 0};
        static_assert(sizeof idInfo.FileId == 2 * sizeof id[0]);
        std::memcpy(&id[2], &idInfo.FileId, sizeof idInfo.FileId);
        return id;
    }
    // File systems without 128-bit ids still have the 64-bit index.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(directory.get(), &info)) return std::nullopt;
    return DirectoryId{2, info.dwVolumeSerialNumber,
                       std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, 0};
}

int WalkFolder(const std::wstring& folder, WalkRecord& record);

// Handles one listed entry that is walked or patched. Memory running out for it skips only this
// entry, which then yields 0 like a folder that can't be listed.
int PatchEntry(const std::wstring& folder, const WIN32_FIND_DATAW& entry, WalkRecord& record) noexcept {
    try {
        const std::wstring child = folder + L'\\' + entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return WalkFolder(child, record);
        return PatchDocument(child);
    } catch (...) {
        return 0;
    }
}

// Throws only when memory runs out, and only before the folder is listed.
int WalkFolder(const std::wstring& folder, WalkRecord& record) {
    // No folder at all would give the pattern "\*.*": the root of the current drive, a whole drive
    // that nobody asked to be walked.
    if (folder.empty()) return 0;
    const std::wstring pattern = folder + L"\\*.*";
    // Windows lists no pattern beyond its path limit; refusing it here too ends every descent where
    // Windows ends it, also where the listing itself would accept longer paths.
    if (pattern.size() + 1 > MAX_PATH) return 0;

    // Directory links can lead back to a directory already walked, or into one whose walk is still
    // under way: one standard user's links below ProgramData could otherwise make this elevated run
    // visit 2^100 paths. A cycle yields 0, what the path limit yields at the deepest level of a cycle
    // on Windows; a directory walked before yields its result again without a second walk.
    WalkRecord::iterator walked = record.end();
    if (const std::optional<DirectoryId> id = ReadDirectoryId(folder)) {
        const auto [slot, isNew] = record.try_emplace(*id, kUnderWay);
        if (!isNew) return slot->second == kUnderWay ? 0 : slot->second;
        walked = slot;
    }

    int result = 0;
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle listing(::FindFirstFileW(pattern.c_str(), &entry));
    if (listing) {
        do {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                // Covers "." and "..", and every directory whose name begins with a dot.
                if (entry.cFileName[0] != L'.') result = PatchEntry(folder, entry, record);
            } else if (IsDocumentName(entry.cFileName)) {
                result = PatchEntry(folder, entry, record);
            }
        } while (::FindNextFileW(listing.get(), &entry));
    }
    if (walked != record.end()) walked->second = result;
    return result;
}

}  // namespace

int PatchFolderTree(const std::wstring& folder) noexcept {
    try {
        WalkRecord record;
        return WalkFolder(folder, record);
    } catch (...) {
        return 0;
    }
}
