// The product's terminate handler and throw helpers, in place of libstdc++'s.
//
// The verbose handler names the escaping exception on stderr, so it links in the C++ demangler and printf:
// about 75 KB, a quarter of the executable. Replacing it is safe here because it has nothing to say and
// nowhere to say it: std::terminate is reached only when an exception leaves a noexcept function, and
// wWinMain's RunUpdate is noexcept and turns every failure into a result; a GUI-subsystem process has no
// stderr, so the message would be lost anyway; and abort() is what the verbose handler ends with.
// libstdc++ declares this function in <exception> and resolves std::terminate's default to it; a static
// link takes this definition and never pulls the library's.
//
// The containers and strings call the library's throw helpers for a size they can't hold; the library's
// own build each exception with a message in a copy-on-write string, which links in a second string
// implementation: about 55 KB. The product's one exception boundary (run_guarded.h) catches whatever is
// thrown and treats it as memory running out, which is what an impossible size is here; so each helper
// throws std::bad_alloc, and a static link takes these in place of the library's.
#include <cstdlib>
#include <exception>
#include <new>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    throw bad_alloc();
}
void __throw_length_error(const char*) {
    throw bad_alloc();
}
void __throw_logic_error(const char*) {
    throw bad_alloc();
}
void __throw_out_of_range(const char*) {
    throw bad_alloc();
}
void __throw_out_of_range_fmt(const char*, ...) {
    throw bad_alloc();
}
void __throw_invalid_argument(const char*) {
    throw bad_alloc();
}

}  // namespace std
