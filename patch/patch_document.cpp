// Win32 side of the document patch: through the handle the walk opened it by, attributes through that
// handle, and rewrites that leave a document as it was when they fail.
#include <windows.h>

#include <climits>
#include <string>
#include <vector>

#include "document_text.h"
#include "file_location.h"
#include "patch.h"
#include "run_guarded.h"
#include "unique_handle.h"

namespace {

// The searches step through the text as the system ANSI code page reads it.
LeadByteTable GetAnsiLeadBytes() noexcept {
    CPINFO info{};
    if (!::GetCPInfo(::GetACP(), &info)) return LeadByteTable{};
    return MakeLeadByteTable(info.LeadByte, MAX_LEADBYTES);
}

// What both edits together add to a document.
constexpr std::size_t kMaxGrowth =
    kCompatibilityTag.size() + kLocalMachineComment.size() - kInternetZoneComment.size();
// Largest document handled: its text, grown by both edits, must still have a signed 32-bit length, so
// every offset and length below fits one ReadFile or WriteFile count.
constexpr long long kMaxDocumentSize = INT_MAX - static_cast<long long>(kMaxGrowth);
static_assert(kMaxDocumentSize + kMaxGrowth <= MAXDWORD);

// `offset` and `size` lie within a text of at most INT_MAX bytes. Nothing is buffered: once WriteFile
// returns, the bytes went to the platform.
[[nodiscard]] bool WriteAt(HANDLE document, std::size_t offset, const char* bytes,
                           std::size_t size) noexcept {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(document, at, nullptr, FILE_BEGIN)) return false;
    DWORD written = 0;
    return size == 0 ||
           (::WriteFile(document, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size);
}

// Gives the document back its old length; cutting a file back needs no room.
void CutBack(HANDLE document, std::size_t size) noexcept {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFilePointerEx(document, at, nullptr, FILE_BEGIN)) (void)::SetEndOfFile(document);
}

// Writes `text`, the document's text after one edit, over the document, which holds the `oldLength`
// bytes of the text before that edit; `undo` takes the edit out of `text` again. The room for the
// growth is taken first, past the old end, so that no old byte is overwritten before the disk has
// granted it. Returns whether `text` is in place.
// On failure the document gets its old bytes and length back: cutting it back needs no room, and the
// old bytes go into room it already had. Only an I/O error during that restore, which nothing here can
// mend, leaves it otherwise.
template <typename Undo>
[[nodiscard]] bool RewriteDocument(HANDLE document, std::string& text, std::size_t oldLength,
                                   Undo undo) noexcept {
    if (!WriteAt(document, oldLength, text.data() + oldLength, text.size() - oldLength)) {
        CutBack(document, oldLength);
        return false;
    }
    if (!WriteAt(document, 0, text.data(), oldLength)) {
        undo(text);
        (void)WriteAt(document, 0, text.data(), oldLength);
        CutBack(document, oldLength);
        return false;
    }
    return true;
}

// `size` was read through `document` or another handle since it was opened exclusively.
int PatchOpenDocument(HANDLE document, LONGLONG size) {
    if (size < 0 || size > kMaxDocumentSize) return 0;

    // The whole document is the text, NUL bytes included, so every write covers text bytes only. The
    // room for both edits is taken up front and both work in place: one copy of the document in memory.
    // The file pointer stands at the start: nothing was read yet.
    const auto length = static_cast<std::size_t>(size);
    std::string text;
    text.reserve(length + kMaxGrowth);
    text.resize(length);
    DWORD read = 0;
    if (!::ReadFile(document, text.data(), static_cast<DWORD>(length), &read, nullptr) || read != length)
        return 0;

    const LeadByteTable leadBytes = GetAnsiLeadBytes();
    std::size_t before = text.size();
    const std::size_t tag = InsertCompatibilityTag(text, leadBytes);
    if (tag != std::string::npos &&
        !RewriteDocument(document, text, before, [tag](std::string& t) { RemoveCompatibilityTag(t, tag); })) {
        return 0;
    }
    before = text.size();
    const std::size_t comment = ReplaceInternetZoneComment(text, leadBytes);
    if (comment != std::string::npos && !RewriteDocument(document, text, before, [comment](std::string& t) {
            RestoreInternetZoneComment(t, comment);
        })) {
        return 0;
    }
    return 1;
}

// The document's size, once it is held, and whether it lies inside the maker's folders by every name it has:
// one name lies where its folder, held, does.
[[nodiscard]] bool InspectDocument(HANDLE file, const std::vector<std::wstring>& makerFolders,
                                   LONGLONG& size) {
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) return false;
    if (standard.NumberOfLinks > 1 && !LiesInsideByEveryName(file, standard.NumberOfLinks, makerFolders))
        return false;
    size = standard.EndOfFile.QuadPart;
    return true;
}

// The attribute word, read and written through a handle: never by path, which could name another file
// by the time it is resolved again.
[[nodiscard]] bool ReadAttributes(HANDLE file, DWORD& attributes) noexcept {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
    attributes = basic.FileAttributes;
    return true;
}

[[nodiscard]] bool WriteAttributes(HANDLE file, DWORD attributes) noexcept {
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    // 0 would mean "unchanged" here; the platform's word for no attributes is FILE_ATTRIBUTE_NORMAL.
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

int PatchHeldDocument(HANDLE document, bool readOnly, const std::vector<std::wstring>& makerFolders) {
    LONGLONG size = 0;
    if (!InspectDocument(document, makerFolders, size)) return 0;
    if (!readOnly) return PatchOpenDocument(document, size);

    // Held for its attributes only: the bit is cleared through this handle, and the document opened
    // again through it, with no name to look up (so no pipe can answer, and no flags are needed for one).
    DWORD attributes = 0;
    if (!ReadAttributes(document, attributes) || (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
        !WriteAttributes(document, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        return 0;
    }
    const UniqueFileHandle reopened(::ReOpenFile(document, GENERIC_READ | GENERIC_WRITE, 0, 0));
    // The size again, now that nobody else can write: before, somebody could.
    LARGE_INTEGER exclusiveSize{};
    if (!reopened || !::GetFileSizeEx(reopened.get(), &exclusiveSize)) return 0;
    if (PatchOpenDocument(reopened.get(), exclusiveSize.QuadPart) == 0) return 0;
    // The cleared read-only bit goes back while the document is still open.
    return WriteAttributes(document, attributes) ? 1 : 0;
}

}  // namespace

int PatchDocument(HANDLE document, bool readOnly, const std::vector<std::wstring>& makerFolders) noexcept {
    // The document's text is held whole in memory, so memory can run out for a large one: this document
    // fails, the walk goes on.
    return RunGuarded(0, [&] { return PatchHeldDocument(document, readOnly, makerFolders); });
}
