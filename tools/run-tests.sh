#!/usr/bin/env bash
# The whole test suite: the platform-neutral tests natively, then the Windows tests under Wine.
# The shipped executable is 32-bit, and its suite runs where the kernel runs 32-bit programs. Some
# kernels run none ("Exec format error" from Wine's 32-bit loader); there the 32-bit build is still
# compiled, warnings as errors, and the same suite runs on the 64-bit build of the same code.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
. cmake/wine-loader.sh

cmake --workflow --preset native
if [ "$ORVET_PRESET" = windows64 ]; then
    echo "run-tests: this kernel runs no 32-bit programs; testing the 64-bit build under Wine" >&2
    cmake --preset windows >/dev/null
    cmake --build --preset windows
fi
# The completion notice is a real message box: Wine needs a display for it.
xvfb-run -a cmake --workflow --preset "$ORVET_PRESET"
