// Look-up of the notice texts in this executable's string tables.
#include <windows.h>

#include <string>
#include <string_view>

#include "run_guarded.h"
#include "update_run_internal.h"

namespace {

// Entry `entry` of the string table block `resource` of this executable; empty when anything is missing.
std::wstring_view FindBlockEntry(HRSRC resource, unsigned entry) noexcept {
    if (resource == nullptr) return {};
    const HGLOBAL loaded = ::LoadResource(nullptr, resource);
    if (loaded == nullptr) return {};
    const void* bytes = ::LockResource(loaded);
    if (bytes == nullptr) return {};
    // Resource data is aligned for its 16-bit units, as the platform's own string loader relies on.
    return FindStringTableEntry(static_cast<const wchar_t*>(bytes), ::SizeofResource(nullptr, resource),
                                entry);
}

}  // namespace

bool LoadResourceString(UINT id, std::wstring& text) noexcept {
    text.clear();
    const LPCWSTR block = MAKEINTRESOURCEW(id / 16 + 1);
    const unsigned entry = id % 16;
    // Looked up twice: with the neutral language, which leaves the choice among the language tables to the
    // platform's resource loader, to learn whether the block holds the text at all; then by
    // FindResourceW, which follows the thread's UI language, for the text shown. Every table holds both
    // identifiers, so the two agree on whether there is one.
    const HRSRC chosen =
        ::FindResourceExW(nullptr, RT_STRING, block, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    if (FindBlockEntry(chosen, entry).empty()) return false;
    const std::wstring_view found = FindBlockEntry(::FindResourceW(nullptr, block, RT_STRING), entry);
    if (found.empty()) return false;
    // A string's assign succeeds or leaves it as it was, here empty.
    return RunGuarded(false, [&] {
        text.assign(found);
        return true;
    });
}
