#!/usr/bin/env bash
# Usage: reproducible_build.sh SOURCE BUILD SCRATCH EXE GENERATOR TOOLCHAIN BUILD_TYPE
# Configures and builds the executable once more in the empty folder SCRATCH and compares the result byte for
# byte with EXE, the executable of the build in BUILD. Only the executable is built, so this takes seconds.
set -euo pipefail
source_dir=$1 build_dir=$2 scratch=$3 exe=$4 generator=$5 toolchain=$6 build_type=$7

rm -rf "$scratch"
cmake -S "$source_dir" -B "$scratch" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE="$build_type" >"$scratch.log" 2>&1 || { cat "$scratch.log"; exit 1; }
cmake --build "$scratch" --target orvet_update >>"$scratch.log" 2>&1 || { cat "$scratch.log"; exit 1; }

again="$scratch/${exe#"$build_dir"/}"
if ! cmp "$exe" "$again"; then
    echo "two builds of $(basename "$exe") differ; the second one is kept in $scratch" >&2
    exit 1
fi
rm -rf "$scratch" "$scratch.log"
echo "$(basename "$exe"): $(stat -c %s "$exe") bytes, identical in both builds"
