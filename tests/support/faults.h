// Makes the k-th call of a chosen platform or runtime function fail, the product code unchanged: the
// test program is linked with --wrap on each function's import slot (or on the function itself, where
// it is called directly), and the wrapper counts its calls while a plan is armed. orvet_wrap_faults() in
// CMake reads the ORVET_FAULT_ lines of the test's source and adds the link options.
#pragma once

#include <windows.h>

#include <cstddef>

namespace faults {

// From now on the wrapped calls count, and the `failAt`-th call of `function` (1 is the first) fails
// with `error`; where `shortened` is set and the function moves bytes, it moves one byte less instead.
void Arm(const char* function, int failAt, DWORD error, bool shortened = false);
// Calls go straight through again, uncounted; the counts stay readable.
void Disarm();
[[nodiscard]] int CountCalls(const char* function);

// For the wrappers: counts a call of `function`. False when it is to fail, with the error set; true
// when it goes through, where a shortened failure has taken one off `count`.
[[nodiscard]] bool Passes(const char* function, std::size_t* count = nullptr);

}  // namespace faults

// The wrapper of a function of type F: the real function behind `Real`, or `Fail()` for a failure.
template <typename F>
struct FaultSeam;
#define ORVET_FAULT_SEAM(CONV)                                                       \
    template <typename R, typename... A>                                             \
    struct FaultSeam<R(CONV*)(A...)> {                                               \
        template <const char* Name, auto* Real, auto* Fail>                          \
        static R CONV Call(A... args) {                                              \
            return faults::Passes(Name) ? (*Real)(args...) : static_cast<R>(Fail()); \
        }                                                                            \
    };
ORVET_FAULT_SEAM(__cdecl)
#ifndef _WIN64
ORVET_FAULT_SEAM(__stdcall)  // on x86-64 the same type as __cdecl
#endif

// Symbol names as the linker sees them: i686 decorates them, x86-64 does not.
#ifdef _WIN64
#define ORVET_FAULT_SLOT(prefix, name, decoration) prefix "__imp_" #name
#define ORVET_FAULT_NAME(prefix, name, decoration) prefix #name
#else
#define ORVET_FAULT_SLOT(prefix, name, decoration) "_" prefix "_imp__" #name decoration
#define ORVET_FAULT_NAME(prefix, name, decoration) "_" prefix #name decoration
#endif

// A function reached through its import slot: `decoration` is its "@N" on i686 ("" for the runtime's
// functions), `failure` what it returns when it fails.
#define ORVET_FAULT_IMPORT(name, decoration, failure)                                                \
    extern "C" decltype(&::name) Real_##name __asm__(ORVET_FAULT_SLOT("__real_", name, decoration)); \
    extern "C" decltype(&::name) Wrap_##name __asm__(ORVET_FAULT_SLOT("__wrap_", name, decoration)); \
    namespace {                                                                                      \
    constexpr char kFault_##name[] = #name;                                                          \
    auto Fail_##name() {                                                                             \
        return failure;                                                                              \
    }                                                                                                \
    }                                                                                                \
    decltype(&::name) Wrap_##name =                                                                  \
        &FaultSeam<decltype(&::name)>::Call<kFault_##name, &Real_##name, &Fail_##name>;

// A function called directly: declares Real_name and Wrap_name; the test writes Wrap_name's body.
#define ORVET_FAULT_DIRECT(name, decoration)                                                        \
    extern "C" decltype(::name) Real_##name __asm__(ORVET_FAULT_NAME("__real_", name, decoration)); \
    extern "C" decltype(::name) Wrap_##name __asm__(ORVET_FAULT_NAME("__wrap_", name, decoration));

// A function reached through its import slot whose wrapper the test writes in full and stores in
// Wrap_name; Real_name is the platform's own.
#define ORVET_FAULT_HOOK(name, decoration)                                                           \
    extern "C" decltype(&::name) Real_##name __asm__(ORVET_FAULT_SLOT("__real_", name, decoration)); \
    extern "C" decltype(&::name) Wrap_##name __asm__(ORVET_FAULT_SLOT("__wrap_", name, decoration));
