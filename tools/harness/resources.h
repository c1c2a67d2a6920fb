// The resources of a built executable, read with the platform's own resource functions: for the tests of
// the executable's resources and of its string tables.
#pragma once

#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "handles.h"

// `path` loaded as data only: nothing of it runs. Empty when it can't be loaded.
[[nodiscard]] UniqueModule LoadAsData(const std::wstring& path);

// The bytes of the resource `type`/`name` in `language`; nothing when there is none.
[[nodiscard]] std::optional<std::vector<BYTE>> ReadResource(HMODULE module, LPCWSTR type, LPCWSTR name,
                                                            WORD language);

// A resource type or name as "#24" for a number and as the text itself otherwise.
[[nodiscard]] std::wstring ResourceLabel(LPCWSTR id);

[[nodiscard]] std::set<std::wstring> ListResourceTypes(HMODULE module);
[[nodiscard]] std::vector<std::wstring> ListResourceNames(HMODULE module, LPCWSTR type);
[[nodiscard]] std::vector<WORD> ListResourceLanguages(HMODULE module, LPCWSTR type, LPCWSTR name);
