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

namespace {

struct CloseStream {
    void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};
using UniqueStream = std::unique_ptr<std::FILE, CloseStream>;

// The searches step through the text as the system ANSI code page reads it.
LeadByteTable GetAnsiLeadBytes() noexcept {
    CPINFO info{};
    if (!::GetCPInfo(::GetACP(), &info)) return LeadByteTable{};
    return MakeLeadByteTable(info.LeadByte, MAX_LEADBYTES);
}

[[nodiscard]] bool WriteAt(std::FILE* stream, long offset, std::string_view bytes) noexcept {
    if (std::fseek(stream, offset, SEEK_SET) != 0) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) return false;
    return std::fflush(stream) == 0;
}

// Cutting the document back needs no room, so it is tried even when the commit before it failed.
[[nodiscard]] bool SetLength(std::FILE* stream, long length) noexcept {
    const bool committed = std::fflush(stream) == 0;
    return ::_chsize(::_fileno(stream), length) == 0 && committed;
}

// Replaces the document's contents `oldText` with the longer `newText`. The room for the growth is
// taken first, past the old end, so no old byte is overwritten before the disk has granted it; when
// any write fails, the old bytes and the old length are put back. Returns whether `newText` is in place.
[[nodiscard]] bool RewriteDocument(std::FILE* stream, std::string_view oldText,
                                   std::string_view newText) noexcept {
    const long oldLength = static_cast<long>(oldText.size());
    if (!WriteAt(stream, oldLength, newText.substr(oldText.size()))) {
        (void)SetLength(stream, oldLength);
        return false;
    }
    if (!WriteAt(stream, 0, newText.substr(0, oldText.size()))) {
        // Writing the old bytes back reuses room the document already had.
        (void)WriteAt(stream, 0, oldText);
        (void)SetLength(stream, oldLength);
        return false;
    }
    return true;
}

// What both edits together add to a document.
constexpr std::size_t kMaxGrowth =
    kCompatibilityTag.size() + kLocalMachineComment.size() - kInternetZoneComment.size();
// Largest document handled: its text, grown by both edits, must still have a signed 32-bit length.
constexpr long long kMaxDocumentSize = INT_MAX - static_cast<long long>(kMaxGrowth);

int PatchOpenDocument(std::FILE* stream) {
    if (::_fseeki64(stream, 0, SEEK_END) != 0) return 0;
    const long long size = ::_ftelli64(stream);
    if (size < 0 || size > kMaxDocumentSize) return 0;
    if (::_fseeki64(stream, 0, SEEK_SET) != 0) return 0;

    // The whole document is the text, NUL bytes included, so every write covers text bytes only.
    // Both copies, the text on disk and the edited one, get the room for both edits up front: no
    // edit reallocates, so a page never takes more than twice its size in memory.
    const auto length = static_cast<std::size_t>(size);
    std::string text;
    text.reserve(length + kMaxGrowth);
    text.resize(length);
    if (std::fread(text.data(), 1, text.size(), stream) != text.size()) return 0;
    std::string edited;
    edited.reserve(length + kMaxGrowth);
    edited.assign(text);

    const LeadByteTable leadBytes = GetAnsiLeadBytes();
    if (InsertCompatibilityTag(edited, leadBytes)) {
        if (!RewriteDocument(stream, text, edited)) return 0;
        text.assign(edited);
    }
    if (ReplaceInternetZoneComment(edited, leadBytes)) {
        if (!RewriteDocument(stream, text, edited)) return 0;
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
        // In practice memory exhausted: this document fails, the walk goes on.
        return 0;
    }
}
