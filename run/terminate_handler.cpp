// The product's terminate handler, in place of libstdc++'s verbose one.
//
// The verbose handler names the escaping exception on stderr, so it links in the C++ demangler and printf:
// about 75 KB, a quarter of the executable. Replacing it is safe here because it has nothing to say and
// nowhere to say it: std::terminate is reached only when an exception leaves a noexcept function, and
// wWinMain's RunUpdate is noexcept and turns every failure into a result; a GUI-subsystem process has no
// stderr, so the message would be lost anyway; and abort() is what the verbose handler ends with.
// libstdc++ declares this function in <exception> and resolves std::terminate's default to it; a static
// link takes this definition and never pulls the library's.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx
