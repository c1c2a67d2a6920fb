#include "resources.h"

namespace {

BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR types) {
    reinterpret_cast<std::set<std::wstring>*>(types)->insert(ResourceLabel(type));
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
    reinterpret_cast<std::vector<std::wstring>*>(names)->push_back(ResourceLabel(name));
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
    reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
    return TRUE;
}

}  // namespace

UniqueModule LoadAsData(const std::wstring& path) {
    return UniqueModule(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

std::optional<std::vector<BYTE>> ReadResource(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
    const HRSRC found = ::FindResourceExW(module, type, name, language);
    if (found == nullptr) return std::nullopt;
    const HGLOBAL loaded = ::LoadResource(module, found);
    const auto* data = static_cast<const BYTE*>(::LockResource(loaded));
    if (data == nullptr) return std::nullopt;
    return std::vector<BYTE>(data, data + ::SizeofResource(module, found));
}

std::wstring ResourceLabel(LPCWSTR id) {
    if (IS_INTRESOURCE(id)) return L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id));
    return id;
}

std::set<std::wstring> ListResourceTypes(HMODULE module) {
    std::set<std::wstring> types;
    ::EnumResourceTypesW(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    return types;
}

std::vector<std::wstring> ListResourceNames(HMODULE module, LPCWSTR type) {
    std::vector<std::wstring> names;
    ::EnumResourceNamesW(module, type, CollectName, reinterpret_cast<LONG_PTR>(&names));
    return names;
}

std::vector<WORD> ListResourceLanguages(HMODULE module, LPCWSTR type, LPCWSTR name) {
    std::vector<WORD> languages;
    ::EnumResourceLanguagesW(module, type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}
