// The run's decisions on plain values, apart from the platform calls that supply them.
#include "run_decisions.h"

#include <limits>

#include "ascii_case.h"

namespace {

constexpr std::wstring_view kAcceptedManualVersion = L"3.0.0.08100";
constexpr std::wstring_view kAcceptedCareVersions[] = {L"8.2.0.15030", L"8.3.0.08220"};

}  // namespace

bool IsSupportedWindowsVersion(std::uint32_t major, std::uint32_t minor, std::uint8_t productType) noexcept {
    return major == 6 && productType == kWorkstationProductType && minor >= 3;
}

bool IsAcceptedManualVersion(std::wstring_view version) noexcept {
    return EqualsIgnoringAsciiCase(version, kAcceptedManualVersion);
}

bool IsAcceptedCareVersion(std::wstring_view version) noexcept {
    for (const std::wstring_view accepted : kAcceptedCareVersions) {
        if (EqualsIgnoringAsciiCase(version, accepted)) return true;
    }
    return false;
}

std::size_t GetVersionBufferSize(std::uint32_t valueSize) noexcept {
    const std::uint64_t bytes = (std::uint64_t{valueSize} + 1) * 2;
    if (bytes > std::numeric_limits<std::uint32_t>::max() ||
        bytes > std::numeric_limits<std::size_t>::max()) {
        return std::numeric_limits<std::size_t>::max();
    }
    return static_cast<std::size_t>(bytes);
}

std::wstring DecodeVersionValue(const unsigned char* bytes, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i < size; i += 2) {
        const unsigned high = i + 1 < size ? bytes[i + 1] : 0u;
        const auto unit = static_cast<wchar_t>(bytes[i] | high << 8);
        if (unit == L'\0') break;
        text.push_back(unit);
    }
    return text;
}

std::uint32_t DecodeUpdaterFlag(const unsigned char* bytes, std::size_t size) noexcept {
    if (size > sizeof(std::uint32_t)) return 0;
    std::uint32_t flag = 0;
    for (std::size_t i = 0; i < size; ++i) flag |= std::uint32_t{bytes[i]} << (8 * i);
    return flag;
}

std::wstring_view GetDriveRoot(std::wstring_view windowsFolderWithSlash) noexcept {
    const std::size_t slash = windowsFolderWithSlash.find(L'\\');
    if (slash == std::wstring_view::npos) return {};
    return windowsFolderWithSlash.substr(0, slash + 1);
}

bool LiesAt(std::wstring_view place, std::wstring_view known, std::wstring_view tail) noexcept {
    if (known.empty() || tail.empty()) return false;
    const std::size_t slash = known.back() == L'\\' ? 0 : 1;
    if (place.size() != known.size() + slash + tail.size() || place.compare(0, known.size(), known) != 0)
        return false;
    if (slash == 1 && place[known.size()] != L'\\') return false;
    return EqualsIgnoringAsciiCase(place.substr(known.size() + slash), tail);
}

std::wstring_view FindStringTableEntry(const wchar_t* block, std::size_t size, unsigned entry) noexcept {
    constexpr unsigned kEntriesPerBlock = 16;
    if (block == nullptr || entry >= kEntriesPerBlock) return {};
    // Only whole units count; a count never carries the walk past the block's end.
    const std::size_t units = size / sizeof(wchar_t);
    // Counts are 16-bit, whatever the width of wchar_t.
    const auto countAt = [block](std::size_t at) {
        return std::size_t{static_cast<std::uint16_t>(block[at])};
    };
    std::size_t at = 0;
    for (unsigned i = 0; i < entry; ++i) {
        if (at >= units) return {};
        at += 1 + countAt(at);
    }
    if (at >= units) return {};
    const std::size_t count = countAt(at);
    if (count == 0 || count > units - at - 1) return {};
    return {block + at + 1, count};
}
