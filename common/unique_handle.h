// One owner for every kind of Win32 handle: the traits name the invalid value and the closer. Buffers
// that the platform hands over get a std::unique_ptr with their releaser.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <memory>
#include <utility>

template <typename Traits>
class UniqueHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    [[nodiscard]] Handle get() const noexcept { return handle_; }
    [[nodiscard]] explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

    // For out parameters of the platform: closes what is owned and hands over the slot.
    [[nodiscard]] Handle* put() noexcept {
        reset();
        return &handle_;
    }

    Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

    void reset(Handle handle = Traits::Invalid()) noexcept {
        const Handle old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) {
            // Closing must not hide the error that made the caller give up.
            const DWORD error = ::GetLastError();
            Traits::Close(old);
            ::SetLastError(error);
        }
    }

  private:
    Handle handle_ = Traits::Invalid();
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) noexcept { ::FindClose(handle); }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle handle) noexcept { ::RegCloseKey(handle); }
};
using UniqueRegKey = UniqueHandle<RegKeyTraits>;

// Text the platform allocated with CoTaskMemAlloc (SHGetKnownFolderPath's path).
struct FreeCoTaskMem {
    void operator()(wchar_t* text) const noexcept { ::CoTaskMemFree(text); }
};
using UniqueCoTaskMemText = std::unique_ptr<wchar_t, FreeCoTaskMem>;
