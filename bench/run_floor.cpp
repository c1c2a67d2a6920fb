// The least that any run over a manual tree has to do: find every document and read it and write it back
// once, through the same runtime calls the patcher makes. The whole-run benchmark sets the update run
// against it. Usage: run_floor FOLDER. Exit code 0 when every document was rewritten, 1 otherwise.
#include <windows.h>

#include <share.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench_support.h"
#include "unique_handle.h"

namespace {

bool RewriteDocument(const std::wstring& path) {
    const UniqueStream stream(::_wfsopen(path.c_str(), L"r+b", _SH_DENYRW));
    if (!stream || std::setvbuf(stream.get(), nullptr, _IONBF, 0) != 0) return false;
    if (std::fseek(stream.get(), 0, SEEK_END) != 0) return false;
    const long size = std::ftell(stream.get());
    if (size < 0 || std::fseek(stream.get(), 0, SEEK_SET) != 0) return false;
    std::string text(static_cast<std::size_t>(size), '\0');
    if (std::fread(text.data(), 1, text.size(), stream.get()) != text.size()) return false;
    if (std::fseek(stream.get(), 0, SEEK_SET) != 0) return false;
    return std::fwrite(text.data(), 1, text.size(), stream.get()) == text.size() &&
           std::fflush(stream.get()) == 0;
}

// Returns the number of documents that could not be rewritten.
int RewriteTree(const std::wstring& folder) {
    int failures = 0;
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle listing(::FindFirstFileW((folder + L"\\*.*").c_str(), &entry));
    if (!listing) return 1;
    do {
        const std::wstring path = folder + L"\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (entry.cFileName[0] != L'.') failures += RewriteTree(path);
            continue;
        }
        const wchar_t* extension = ::PathFindExtensionW(entry.cFileName);
        if ((::lstrcmpiW(extension, L".htm") == 0 || ::lstrcmpiW(extension, L".html") == 0) &&
            !RewriteDocument(path)) {
            ++failures;
        }
    } while (::FindNextFileW(listing.get(), &entry));
    return failures;
}

}  // namespace

int main() {
    int count = 0;
    const UniqueLocalArguments arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!arguments || count != 2) {
        std::fprintf(stderr, "usage: run_floor FOLDER\n");
        return 2;
    }
    return RewriteTree(arguments.get()[1]) == 0 ? 0 : 1;
}
