// Win32 side of the document patch: attributes, the exclusive stream, and rewrites that never leave a
// document half written.
#include <windows.h>

#include <io.h>
#include <share.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "document_text.h"
#include "patch.h"
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
// every offset and length below fits the runtime's 32-bit seeks.
constexpr long long kMaxDocumentSize = INT_MAX - static_cast<long long>(kMaxGrowth);
static_assert(kMaxDocumentSize + kMaxGrowth <= LONG_MAX);

// `offset` and `size` lie within a text of at most INT_MAX bytes. The stream is unbuffered: once fwrite
// returns, the bytes went to the platform, and no flush is needed.
[[nodiscard]] bool WriteAt(std::FILE* stream, std::size_t offset, const char* bytes,
                           std::size_t size) noexcept {
    if (std::fseek(stream, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return size == 0 || std::fwrite(bytes, 1, size, stream) == size;
}

// Writes `text`, the document's text after one edit, over the document, which holds the `oldLength`
// bytes of the text before that edit; `undo` takes the edit out of `text` again. The room for the
// growth is taken first, past the old end, so that no old byte is overwritten before the disk has
// granted it. Returns whether `text` is in place.
// On failure the document gets its old bytes and length back: cutting it back needs no room, and the
// old bytes go into room it already had. Only an I/O error during that restore, which nothing here can
// mend, leaves it otherwise.
template <typename Undo>
[[nodiscard]] bool RewriteDocument(std::FILE* stream, std::string& text, std::size_t oldLength,
                                   Undo undo) noexcept {
    const int file = ::_fileno(stream);
    const auto oldSize = static_cast<long>(oldLength);
    if (!WriteAt(stream, oldLength, text.data() + oldLength, text.size() - oldLength)) {
        (void)::_chsize(file, oldSize);
        return false;
    }
    if (!WriteAt(stream, 0, text.data(), oldLength)) {
        undo(text);
        (void)WriteAt(stream, 0, text.data(), oldLength);
        (void)::_chsize(file, oldSize);
        return false;
    }
    return true;
}

int PatchOpenDocument(std::FILE* stream) {
    // One call with a 64-bit answer: a 32-bit tell reads 4 GiB + 100 bytes as 100, and the runtime's
    // 64-bit seeks are emulated with several calls each.
    LARGE_INTEGER size{};
    const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    if (!::GetFileSizeEx(file, &size) || size.QuadPart > kMaxDocumentSize) return 0;

    // The whole document is the text, NUL bytes included, so every write covers text bytes only. The
    // room for both edits is taken up front and both work in place: one copy of the page in memory.
    // The stream stands at the start: nothing was read yet.
    const auto length = static_cast<std::size_t>(size.QuadPart);
    std::string text;
    text.reserve(length + kMaxGrowth);
    text.resize(length);
    if (std::fread(text.data(), 1, length, stream) != length) return 0;

    const LeadByteTable leadBytes = GetAnsiLeadBytes();
    std::size_t before = text.size();
    const std::size_t tag = InsertCompatibilityTag(text, leadBytes);
    if (tag != std::string::npos &&
        !RewriteDocument(stream, text, before, [tag](std::string& t) { RemoveCompatibilityTag(t, tag); })) {
        return 0;
    }
    before = text.size();
    const std::size_t comment = ReplaceInternetZoneComment(text, leadBytes);
    if (comment != std::string::npos && !RewriteDocument(stream, text, before, [comment](std::string& t) {
            RestoreInternetZoneComment(t, comment);
        })) {
        return 0;
    }
    return 1;
}

int PatchDocumentUnguarded(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    const bool readOnlyCleared = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnlyCleared &&
        !::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        return 0;
    }

    // No sharing at all, as the platform's read-write open grants it: nobody else reads or writes the
    // document meanwhile, and one that somebody holds open can't be opened here.
    UniqueStream stream(::_wfsopen(path.c_str(), L"r+b", _SH_DENYRW));
    if (!stream) return 0;
    // Unbuffered, so that a failed write leaves no bytes behind to reach the disk at the close.
    if (std::setvbuf(stream.get(), nullptr, _IONBF, 0) != 0) return 0;

    if (PatchOpenDocument(stream.get()) == 0) return 0;
    if (readOnlyCleared && !::SetFileAttributesW(path.c_str(), attributes)) return 0;
    return 1;
}

}  // namespace

int PatchDocument(const std::wstring& path) noexcept {
    try {
        return PatchDocumentUnguarded(path);
    } catch (...) {
        // The page's text is held whole in memory, so memory can run out for a large one: this document
        // fails, the walk goes on.
        return 0;
    }
}
