// The depth-first walk of one manual folder.
#include <windows.h>

#include <shlwapi.h>

#include <string>
#include <string_view>

#include "ascii_case.h"
#include "patch.h"
#include "unique_handle.h"

namespace {

bool IsDocumentName(const wchar_t* name) noexcept {
    const std::wstring_view extension = ::PathFindExtensionW(name);
    return EqualsIgnoringAsciiCase(extension, L".htm") || EqualsIgnoringAsciiCase(extension, L".html");
}

}  // namespace

int PatchFolderTree(const std::wstring& folder) {
    // No folder at all would give the pattern "\*.*": the root of the current drive, a whole drive
    // that nobody asked to be walked.
    if (folder.empty()) return 0;

    int result = 0;
    const std::wstring pattern = folder + L"\\*.*";
    // Windows lists no pattern beyond its path limit; refusing it here too ends every cycle of
    // directory links, also where the listing itself would accept longer paths.
    if (pattern.size() + 1 > MAX_PATH) return 0;

    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle listing(::FindFirstFileW(pattern.c_str(), &entry));
    if (!listing) return 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            // Covers "." and "..", and every directory whose name begins with a dot.
            if (entry.cFileName[0] != L'.') result = PatchFolderTree(folder + L'\\' + entry.cFileName);
        } else if (IsDocumentName(entry.cFileName)) {
            result = PatchDocument(folder + L'\\' + entry.cFileName);
        }
    } while (::FindNextFileW(listing.get(), &entry));
    return result;
}
