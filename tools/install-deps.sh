#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the demo need, and the two
# developer tools the comments below name.
# Safe to run again: apt skips what is already there. While one of the archive's indexes is mid-sync, it
# tries that index three times, goes on without it, and, if the packages then don't resolve, takes them
# all at the base release's version; only when that fails too does it stop, naming the index: the command
# is then worth running again later.
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

[ "${#missing[@]}" -gt 0 ] || exit 0

# One index of the archive can be mid-sync for hours ("File has unexpected size"). Apt retries each
# download itself; past that, a few more tries with a pause, then the indexes there are.
failed_index=""
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for attempt in 1 2 3; do
    if apt-get update -q -o Acquire::Retries=3 2>&1 | tee "$log"; then
        failed_index=""
        break
    fi
    failed_index=$(sed -n 's/^Err:[0-9]* //p' "$log" | head -n 1)
    failed_index=${failed_index:-"an index of the archive"}
    [ "$attempt" -eq 3 ] || sleep 20
done
if [ -n "$failed_index" ]; then
    echo "install-deps.sh: could not download $failed_index; going on with the indexes there are" >&2
fi

install=(apt-get install -y -q --no-install-recommends --allow-downgrades)
if ! "${install[@]}" "${missing[@]}"; then
    # Without one architecture's newest index, wine32:i386 can't match the versions of the amd64
    # libraries. Both architectures' indexes of the base release list the same versions.
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "install-deps.sh: trying again with every package at the $codename release's version" >&2
    if ! "${install[@]}" -t "$codename" "${missing[@]}"; then
        echo "install-deps.sh: the packages could not be installed${failed_index:+ (could not download $failed_index)};" \
            "run this command again later" >&2
        exit 1
    fi
fi
