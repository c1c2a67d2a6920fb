// The resources and headers of the built executable, read the way the platform reads them.
#include <windows.h>

#include <dbghelp.h>
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "files.h"
#include "handles.h"
#include "machine.h"
#include "resources.h"
#include "text.h"
#include "version.h"

namespace {

constexpr WORD kEnglishUs = 0x0409;

// The build passes the Unix path of the executable; ORVET_EXE, when set, names another copy of it (the signed
// one).
std::wstring ExecutablePath() {
    const std::wstring other = machine::GetExecutableUnderTest();
    return other.empty() ? ToWindowsPath(Widen(ORVET_UPDATE_EXE)) : other;
}

UniqueModule LoadExecutable() {
    return LoadAsData(ExecutablePath());
}

std::optional<std::vector<BYTE>> ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name) {
    return ReadResource(module, type, name, kEnglishUs);
}

WORD ReadWord(const BYTE* at) {
    WORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

DWORD ReadDword(const BYTE* at) {
    DWORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

TEST(ExecutableResources, EveryResourceIsUsEnglishAndNothingElseIsThere) {
    UniqueModule module = LoadExecutable();
    ASSERT_TRUE(module) << "LoadLibraryExW failed: " << ::GetLastError();

    // String tables come in many languages; everything else is ours and exists once.
    const std::set<std::wstring> allowed = {L"#3", L"#6", L"#14", L"#16", L"#24"};
    for (const std::wstring& type : ListResourceTypes(module.get())) {
        EXPECT_EQ(allowed.count(type), 1u) << "unexpected resource type " << Narrow(type);
    }

    const struct {
        LPCWSTR type;
        const char* label;
        std::vector<std::wstring> names;
    } cases[] = {
        {RT_MANIFEST, "manifest", {L"#1"}},
        {RT_VERSION, "version record", {L"#1"}},
        {RT_GROUP_ICON, "icon group", {L"#107"}},
        {RT_ICON, "icon images", {L"#1", L"#2", L"#3", L"#4", L"#5", L"#6"}},
    };
    for (const auto& c : cases) {
        const std::vector<std::wstring> names = ListResourceNames(module.get(), c.type);
        ASSERT_EQ(names, c.names) << c.label;
        for (const std::wstring& name : names) {
            const LPCWSTR id = MAKEINTRESOURCEW(std::stoi(name.substr(1)));
            EXPECT_EQ(ListResourceLanguages(module.get(), c.type, id), std::vector<WORD>{kEnglishUs})
                << c.label << " " << Narrow(name);
        }
    }
}

// --- Manifest ---------------------------------------------------------------------------------------------

struct ReleaseCom {
    void operator()(IUnknown* object) const noexcept { object->Release(); }
};

// The manifest's elements one a line, indented by depth: "{namespace}name attribute=value text".
// Namespace declarations, comments and white space are left out.
std::vector<std::string> ManifestOutline(const std::vector<BYTE>& xml) {
    std::vector<std::string> lines;
    UniqueModule xmllite(::LoadLibraryW(L"xmllite.dll"));
    if (!xmllite) return lines;
    using CreateXmlReaderFn = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
    const auto create = reinterpret_cast<CreateXmlReaderFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(xmllite.get(), "CreateXmlReader")));
    if (create == nullptr) return lines;

    std::unique_ptr<IStream, ReleaseCom> stream(
        ::SHCreateMemStream(xml.data(), static_cast<UINT>(xml.size())));
    IXmlReader* raw_reader = nullptr;
    if (!stream || FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(&raw_reader), nullptr))) {
        return lines;
    }
    std::unique_ptr<IXmlReader, ReleaseCom> reader(raw_reader);
    if (FAILED(reader->SetInput(stream.get()))) return lines;

    // Each getter fills a pointer that the next call may change: read it at once.
    using Getter = HRESULT (STDMETHODCALLTYPE IXmlReader::*)(LPCWSTR*, UINT*);
    auto read = [&reader](Getter getter) -> std::string {
        LPCWSTR value = nullptr;
        if (FAILED((reader.get()->*getter)(&value, nullptr))) return "?";
        return value == nullptr ? "" : Narrow(value);
    };
    XmlNodeType node;
    HRESULT status;
    while ((status = reader->Read(&node)) == S_OK) {
        if (node == XmlNodeType_Element) {
            UINT depth = 0;
            (void)reader->GetDepth(&depth);
            std::string line(2 * depth, ' ');
            line += "{" + read(&IXmlReader::GetNamespaceUri) + "}" + read(&IXmlReader::GetLocalName);
            for (HRESULT more = reader->MoveToFirstAttribute(); more == S_OK;
                 more = reader->MoveToNextAttribute()) {
                if (read(&IXmlReader::GetNamespaceUri) == "http://www.w3.org/2000/xmlns/") continue;
                line += " " + read(&IXmlReader::GetLocalName);
                line += "=" + read(&IXmlReader::GetValue);
            }
            lines.push_back(line);
        } else if (node == XmlNodeType_Text || node == XmlNodeType_CDATA) {
            const std::string content = read(&IXmlReader::GetValue);
            if (lines.empty()) {
                lines.push_back("text outside the root: " + content);
            } else {
                lines.back() += " \"" + content + "\"";
            }
        } else if (node == XmlNodeType_ProcessingInstruction || node == XmlNodeType_DocumentType) {
            lines.push_back("unexpected node " + std::to_string(node));
        }
    }
    if (FAILED(status)) lines.push_back("parse error " + std::to_string(status));
    return lines;
}

TEST(ExecutableResources, ManifestHoldsExactlyTheThreeSections) {
    UniqueModule module = LoadExecutable();
    ASSERT_TRUE(module) << "LoadLibraryExW failed: " << ::GetLastError();
    const std::optional<std::vector<BYTE>> xml =
        ResourceBytes(module.get(), RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_TRUE(xml.has_value());

    const std::string v1 = "{urn:schemas-microsoft-com:asm.v1}";
    const std::string v3 = "{urn:schemas-microsoft-com:asm.v3}";
    const std::string compat = "{urn:schemas-microsoft-com:compatibility.v1}";
    const std::vector<std::string> expected = {
        v1 + "assembly manifestVersion=1.0",
        "  " + v3 + "trustInfo",
        "    " + v3 + "security",
        "      " + v3 + "requestedPrivileges",
        "        " + v3 + "requestedExecutionLevel level=requireAdministrator uiAccess=false",
        "  " + v3 + "application",
        "    " + v3 + "windowsSettings",
        "      {http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware \"true\"",
        "  " + compat + "compatibility",
        "    " + compat + "application",
        "      " + compat + "supportedOS Id={35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
        "      " + compat + "supportedOS Id={4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
        "      " + compat + "supportedOS Id={1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    };
    EXPECT_EQ(ManifestOutline(*xml), expected);
}

// What the platform's own manifest parser makes of the embedded manifest, as it does at process start.
TEST(ExecutableResources, PlatformReadsElevationDpiAndSupportedSystemsFromTheManifest) {
    const std::wstring path = ExecutablePath();
    ACTCTXW request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = path.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    UniqueActCtx context(::CreateActCtxW(&request));
    ASSERT_TRUE(context) << "CreateActCtxW failed: " << ::GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION run_level = {};
    ASSERT_TRUE(::QueryActCtxW(0, context.get(), nullptr, RunlevelInformationInActivationContext, &run_level,
                               sizeof run_level, nullptr));
    EXPECT_EQ(run_level.RunLevel, ACTCTX_RUN_LEVEL_REQUIRE_ADMIN);
    EXPECT_EQ(run_level.UiAccess, 0u);

    wchar_t dpi_aware[16] = {};
    EXPECT_TRUE(::QueryActCtxSettingsW(0, context.get(),
                                       L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware",
                                       dpi_aware, std::size(dpi_aware), nullptr));
    EXPECT_EQ(std::wstring(dpi_aware), L"true");

    std::vector<BYTE> buffer(1024);
    SIZE_T written = 0;
    ASSERT_TRUE(::QueryActCtxW(0, context.get(), nullptr, CompatibilityInformationInActivationContext,
                               buffer.data(), buffer.size(), &written));
    const GUID expected[] = {
        {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}},  // Windows 7
        {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}},  // Windows 8
        {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}},  // Windows 8.1
    };
    // A count, then per entry the GUID and the type. Windows 10 and Wine append a 64-bit MaxVersionTested to
    // each entry (entries start at 8 and take 32 bytes); MinGW's headers still have the older 20-byte entry.
    const DWORD count = ReadDword(buffer.data());
    ASSERT_EQ(count, std::size(expected));
    const bool with_max_version = written == 8 + 32 * count;
    ASSERT_TRUE(with_max_version || written == 4 + 20 * count) << written << " bytes";
    const size_t first = with_max_version ? 8 : 4;
    const size_t stride = with_max_version ? 32 : 20;
    for (size_t i = 0; i < count; ++i) {
        GUID id;
        std::memcpy(&id, buffer.data() + first + stride * i, sizeof id);
        EXPECT_TRUE(::IsEqualGUID(id, expected[i])) << "entry " << i;
        EXPECT_EQ(ReadDword(buffer.data() + first + stride * i + sizeof id),
                  static_cast<DWORD>(ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS))
            << "entry " << i;
    }
}

// --- Version record ---------------------------------------------------------------------------------------

std::vector<BYTE> FileVersionInfo() {
    const std::wstring path = ExecutablePath();
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), nullptr);
    std::vector<BYTE> info(size);
    if (size == 0 || !::GetFileVersionInfoW(path.c_str(), 0, size, info.data())) info.clear();
    return info;
}

constexpr const wchar_t* kVersionStrings[][2] = {
    {L"CompanyName", L"Halvern Corporation"},
    {L"FileDescription", L"Orvet Manual Contents Update"},
    {L"FileVersion", L"1.0.0.10080"},
    {L"InternalName", L"Orvet Manual Contents Update.exe"},
    {L"LegalCopyright", L"Copyright (C) Halvern Corporation. All rights reserved."},
    {L"OriginalFilename", L"Orvet Manual Contents Update.exe"},
    {L"ProductName", L"Orvet Manual Contents Update"},
    {L"ProductVersion", L"1.0.0.10080"},
};

TEST(ExecutableResources, VersionRecordFixedFieldsAndTranslation) {
    std::vector<BYTE> info = FileVersionInfo();
    ASSERT_FALSE(info.empty()) << "GetFileVersionInfoW failed: " << ::GetLastError();

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 10080u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 10080u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, 0x40004u);
    EXPECT_EQ(fixed->dwFileType, 1u);
    EXPECT_EQ(fixed->dwFileSubtype, 0u);
    // No build date: the executable is the same from build to build.
    EXPECT_EQ(fixed->dwFileDateMS, 0u);
    EXPECT_EQ(fixed->dwFileDateLS, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u) << "exactly one translation";
    EXPECT_EQ(translation[0], kEnglishUs);
    EXPECT_EQ(translation[1], 1200u);

    for (const auto& entry : kVersionStrings) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + entry[0];
        wchar_t* value = nullptr;
        EXPECT_TRUE(::VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) &&
                    std::wstring(value) == entry[1])
            << Narrow(entry[0]);
    }
    // The run writes this text as its stamp; the record must say the same.
    EXPECT_EQ(Narrow(kVersionStrings[2][1]), ORVET_VERSION_TEXT);
}

// One node of the version record: WORD length, WORD value length, WORD type, NUL-terminated key, padding to
// 32 bits, the value, padding, then the children up to the node's length.
size_t Align4(size_t offset) {
    return (offset + 3) & ~size_t{3};
}

std::wstring NodeKey(const BYTE* node) {
    return reinterpret_cast<const wchar_t*>(node + 6);
}

size_t NodeValueOffset(const BYTE* node) {
    return Align4(6 + (NodeKey(node).size() + 1) * sizeof(wchar_t));
}

std::wstring NodeText(const BYTE* node) {
    const auto* text = reinterpret_cast<const wchar_t*>(node + NodeValueOffset(node));
    const size_t units = ReadWord(node + 2);
    return std::wstring(text, std::find(text, text + units, L'\0'));
}

// The children of a node, each checked to lie inside it.
std::vector<const BYTE*> NodeChildren(const BYTE* node) {
    const size_t length = ReadWord(node);
    const size_t value_bytes = ReadWord(node + 2) * (ReadWord(node + 4) == 1 ? sizeof(wchar_t) : 1);
    std::vector<const BYTE*> children;
    for (size_t offset = Align4(NodeValueOffset(node) + value_bytes); offset + 6 <= length;) {
        const size_t child_length = ReadWord(node + offset);
        if (child_length < 6 || offset + child_length > length) {
            ADD_FAILURE() << "child of " << Narrow(NodeKey(node)) << " overruns it at " << offset;
            break;
        }
        children.push_back(node + offset);
        offset = Align4(offset + child_length);
    }
    return children;
}

std::vector<std::wstring> Keys(const std::vector<const BYTE*>& nodes) {
    std::vector<std::wstring> keys;
    for (const BYTE* node : nodes) keys.push_back(NodeKey(node));
    return keys;
}

TEST(ExecutableResources, VersionRecordStringsInOrder) {
    std::vector<BYTE> info = FileVersionInfo();
    ASSERT_FALSE(info.empty()) << "GetFileVersionInfoW failed: " << ::GetLastError();
    const BYTE* root = info.data();
    ASSERT_EQ(NodeKey(root), L"VS_VERSION_INFO");

    const std::vector<const BYTE*> blocks = NodeChildren(root);
    ASSERT_EQ(Keys(blocks), (std::vector<std::wstring>{L"StringFileInfo", L"VarFileInfo"}));
    const std::vector<const BYTE*> tables = NodeChildren(blocks[0]);
    ASSERT_EQ(Keys(tables), std::vector<std::wstring>{L"040904b0"});

    const std::vector<const BYTE*> strings = NodeChildren(tables[0]);
    ASSERT_EQ(strings.size(), std::size(kVersionStrings));
    for (size_t i = 0; i < strings.size(); ++i) {
        EXPECT_EQ(NodeKey(strings[i]), kVersionStrings[i][0]) << "entry " << i;
        EXPECT_EQ(NodeText(strings[i]), kVersionStrings[i][1]) << Narrow(kVersionStrings[i][0]);
        EXPECT_EQ(ReadWord(strings[i] + 4), 1u) << Narrow(kVersionStrings[i][0]) << " is stored as text";
    }
}

// --- Icon -------------------------------------------------------------------------------------------------

TEST(ExecutableResources, IconGroupHoldsSixBitmapImages) {
    UniqueModule module = LoadExecutable();
    ASSERT_TRUE(module) << "LoadLibraryExW failed: " << ::GetLastError();
    const std::optional<std::vector<BYTE>> group =
        ResourceBytes(module.get(), RT_GROUP_ICON, MAKEINTRESOURCEW(107));
    ASSERT_TRUE(group.has_value());

    const struct {
        int size;
        int bits;
    } images[] = {{48, 8}, {32, 8}, {16, 8}, {48, 32}, {32, 32}, {16, 32}};
    // The group: reserved 0, type 1 (icon), count, then a 14-byte entry per image.
    ASSERT_EQ(group->size(), 6 + 14 * std::size(images));
    EXPECT_EQ(ReadWord(group->data()), 0u);
    EXPECT_EQ(ReadWord(group->data() + 2), 1u);
    ASSERT_EQ(ReadWord(group->data() + 4), std::size(images));

    for (size_t i = 0; i < std::size(images); ++i) {
        const int size = images[i].size;
        const int bits = images[i].bits;
        const std::string name = std::to_string(size) + " px, " + std::to_string(bits) + " bpp";
        const BYTE* entry = group->data() + 6 + 14 * i;
        EXPECT_EQ(entry[0], size) << name;
        EXPECT_EQ(entry[1], size) << name;
        EXPECT_EQ(entry[2], 0) << name << ": colour count (0 for 256 and more)";
        EXPECT_EQ(ReadWord(entry + 4), 1u) << name << ": planes";
        EXPECT_EQ(ReadWord(entry + 6), bits) << name;
        const WORD id = ReadWord(entry + 12);
        EXPECT_EQ(id, i + 1) << name;

        const std::optional<std::vector<BYTE>> image =
            ResourceBytes(module.get(), RT_ICON, MAKEINTRESOURCEW(id));
        ASSERT_TRUE(image.has_value()) << name;
        EXPECT_EQ(ReadDword(entry + 8), image->size()) << name << ": size in the group";
        ASSERT_GE(image->size(), sizeof(BITMAPINFOHEADER)) << name;
        ASSERT_NE(std::memcmp(image->data(), "\x89PNG", 4), 0) << name << " is stored as PNG";

        BITMAPINFOHEADER header;
        std::memcpy(&header, image->data(), sizeof header);
        EXPECT_EQ(header.biSize, sizeof header) << name;
        EXPECT_EQ(header.biWidth, size) << name;
        EXPECT_EQ(header.biHeight, 2 * size) << name << ": colour bitmap and mask";
        EXPECT_EQ(header.biPlanes, 1) << name;
        EXPECT_EQ(header.biBitCount, bits) << name;
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB)) << name;
        const size_t palette = bits == 8 ? 256 * sizeof(RGBQUAD) : 0;
        const size_t colour_bytes = static_cast<size_t>(size * size * bits / 8);
        const size_t mask_bytes = static_cast<size_t>((size + 31) / 32 * 4 * size);
        EXPECT_EQ(image->size(), sizeof header + palette + colour_bytes + mask_bytes) << name;
    }
}

// --- PE header --------------------------------------------------------------------------------------------

std::vector<BYTE> ReadWholeFile(const std::wstring& path) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > 64 * 1024 * 1024) return {};
    std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
        read != bytes.size()) {
        return {};
    }
    return bytes;
}

// The shipped build is 32-bit; the 64-bit build serves only machines that can't run 32-bit programs.
#ifdef _WIN64
constexpr WORD kMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr WORD kOptionalHeaderMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
#else
constexpr WORD kMachine = IMAGE_FILE_MACHINE_I386;
constexpr WORD kOptionalHeaderMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
#endif

TEST(ExecutableResources, PeHeaderIsAGuiProgramWithinBudgetImportingSystemDllsOnly) {
    const std::wstring path = ExecutablePath();
    EXPECT_EQ(Narrow(::PathFindFileNameW(path.c_str())), "Orvet Manual Contents Update.exe");
    std::vector<BYTE> image = ReadWholeFile(path);
    ASSERT_FALSE(image.empty());

    IMAGE_NT_HEADERS* headers = ::ImageNtHeader(image.data());
    ASSERT_NE(headers, nullptr);
    EXPECT_EQ(headers->FileHeader.Machine, kMachine);
    EXPECT_EQ(headers->FileHeader.TimeDateStamp, 0u) << "a link timestamp makes every build differ";
    EXPECT_TRUE(headers->FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
    EXPECT_FALSE(headers->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(headers->OptionalHeader.Magic, kOptionalHeaderMagic);
    EXPECT_EQ(headers->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    // The budget is for the stripped executable; a signature appended to a signed copy does not count.
    constexpr size_t kSizeBudget = 264 * 1024;
    const size_t signature = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size;
    ASSERT_LE(signature, image.size());
    EXPECT_LE(image.size() - signature, kSizeBudget);

    // ASLR needs the relocations as well as the flag: without them the loader keeps the preferred base.
    EXPECT_TRUE(headers->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(headers->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    EXPECT_FALSE(headers->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
    EXPECT_NE(headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);

    // Everything else (the C++ runtime, threads, unwinding) is linked in.
    const std::set<std::string> system_dlls = {"kernel32.dll", "user32.dll",  "advapi32.dll",
                                               "shell32.dll",  "ole32.dll",   "shlwapi.dll",
                                               "msvcrt.dll",   "version.dll", "ntdll.dll"};
    ULONG size = 0;
    const auto* descriptor = static_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
        ::ImageDirectoryEntryToData(image.data(), FALSE, IMAGE_DIRECTORY_ENTRY_IMPORT, &size));
    ASSERT_NE(descriptor, nullptr);
    std::set<std::string> imported;
    for (; descriptor->Name != 0; ++descriptor) {
        const auto* name =
            static_cast<const char*>(::ImageRvaToVa(headers, image.data(), descriptor->Name, nullptr));
        ASSERT_NE(name, nullptr);
        std::string lower(name);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
        EXPECT_EQ(system_dlls.count(lower), 1u) << "imports " << name;
        imported.insert(lower);
    }
    EXPECT_EQ(imported.count("kernel32.dll"), 1u);
    EXPECT_EQ(headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u)
        << "delay-loaded imports";
}

}  // namespace
