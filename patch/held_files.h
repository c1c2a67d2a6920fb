// The platform's side of containment.h: opening one name relative to a folder held open, as itself,
// and what an open handle holds. Win32 and ntdll only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "containment.h"
#include "unique_handle.h"

// Opens `name`, one name taken literally, relative to the held `folder`, as itself: a link is opened as
// the link. A folder for listing, held without FILE_SHARE_DELETE so that it can't be renamed meanwhile;
// a document exclusively for reading and writing, or, where that is refused, for its attributes. An open
// that another process's oplock would stall is given up at once. Nothing held when it can't be opened
// or is not of the kind asked for; `kind` says what it is.
[[nodiscard]] UniqueFileHandle OpenHeldEntry(HANDLE folder, std::wstring_view name, bool asFolder,
                                             EntryKind& kind);

// Opens the folder `name`, one name, relative to the held `folder`, as itself, to list it; what it is
// is not read.
[[nodiscard]] UniqueFileHandle OpenListedHeldFolder(HANDLE folder, std::wstring_view name);

// Opens what `stub` holds again, with no name to look up, following its reparse point.
[[nodiscard]] UniqueFileHandle ReopenHeldEntry(HANDLE stub, bool asFolder, EntryKind& kind);

// The held folder's entries in listing order. False when it can't be listed.
[[nodiscard]] bool ListHeldFolder(HANDLE folder, std::vector<ListedEntry>& entries);

// The target of the link held by `link`, read before anything follows it.
[[nodiscard]] LinkTarget ReadHeldLinkTarget(HANDLE link);

// Nothing when the platform gives no id for the held directory. Given the volume's serial number, which
// every folder opened as itself below folders of one volume shares, only its 64-bit id is read.
[[nodiscard]] std::optional<DirectoryId> ReadHeldDirectoryId(HANDLE folder,
                                                             std::optional<std::uint64_t> volume);

// The serial number of the volume that all of `folders` lie on; nothing where they lie on several, or
// it can't be told.
[[nodiscard]] std::optional<std::uint64_t> ReadSharedVolume(const std::vector<HANDLE>& folders);
