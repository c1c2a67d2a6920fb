#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the demo need, and the two
# developer tools the comments below name.
# Safe to run again: apt skips what is already there.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps.sh: run as root" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive

# wine32 is an i386 package; the architecture must be known before the index is read.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

packages=(
    # The build: CMake and Ninja, the MinGW-w64 cross compilers (the -posix thread model, which GoogleTest
    # needs) for the 32-bit executable and its 64-bit twin, and GoogleTest's source for both.
    cmake ninja-build
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    googletest
    # The native suite: clang with its sanitizer and libFuzzer runtimes; clang compiles against GCC's C++
    # library, which g++ brings.
    clang libclang-rt-14-dev g++ libgtest-dev
    # The Windows suite and the demo: Wine (its 32-bit loader too, where the kernel runs 32-bit programs),
    # a display for the notice, the pictures of it and the fonts its 23 languages need; fonts-wine would
    # turn Thai into empty boxes.
    wine wine32:i386 wine64
    xvfb xauth imagemagick fonts-dejavu-core fonts-wqy-microhei fonts-tlwg-loma-ttf
    # The release and its tests: the throwaway signing chain, the signing and creation times (the last
    # commit's), the icon test (it runs the icon generator).
    openssl git python3
    # Not used by the build, the tests or the demo: the text-edit benchmark (cmake --workflow --preset bench)
    # and the formatter of .clang-format, for developers.
    libbenchmark-dev clang-format
)

# Signing: osslsigncode versions write different bytes for the same input, and the signed executable must be
# reproducible. 2.5-4 is what Debian 12's own archive gives (2.9 is only in backports).
osslsigncode_version=2.5-4

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null)" != "$osslsigncode_version" ]; then
    missing+=("osslsigncode=$osslsigncode_version")
fi

if [ "${#missing[@]}" -gt 0 ]; then
    apt-get update -q
    apt-get install -y -q --no-install-recommends --allow-downgrades "${missing[@]}"
fi
