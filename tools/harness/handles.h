// Owners of the handle kinds that only the tests and the harness use.
#pragma once

#include <windows.h>

#include "unique_handle.h"

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle handle) noexcept { ::FreeLibrary(handle); }
};
using UniqueModule = UniqueHandle<ModuleTraits>;

struct ActCtxTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) noexcept { ::ReleaseActCtx(handle); }
};
using UniqueActCtx = UniqueHandle<ActCtxTraits>;
