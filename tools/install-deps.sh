#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the demo need.
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
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format
    googletest libgtest-dev libbenchmark-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    wine wine32:i386 wine64
    xvfb xauth imagemagick fonts-dejavu-core
    # The notice in Chinese, Japanese, Korean and Thai; fonts-wine would turn Thai into empty boxes.
    fonts-wqy-microhei fonts-tlwg-loma-ttf
    openssl
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
