#!/usr/bin/env bash
# The whole update run under Wine: the real executable over generated manual trees of 1,000 and 10,000
# documents, timed against a floor program that only reads every document and writes it back once, both
# in one Wine prefix of the benchmark's own; the peak memory of each against the largest document; and the
# folder walk over 20,201 folders against listing them alone, and over a ladder of 30 links against the
# same tree without them.
# Usage: bench/run_benchmark.sh [BUILD_DIR]   (a windows or windows64 build; default build/windows, or
# build/windows64 where the kernel runs no 32-bit programs)
#
# Everything runs on CPU 0: a wineserver request costs 8-10 us when the server shares the CPU with its
# client and about 80 us when it sleeps on another one, which made unpinned runs vary 3-4x. The prefix,
# and so every tree, lives on tmpfs, so that disk writeback from earlier rounds stays out of the figures.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/cmake/wine-loader.sh"
preset=$ORVET_PRESET
build=$(realpath -m "${1:-$root/build/$preset}")

[ -f "$build/CMakeCache.txt" ] || cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" --target orvet_update run_floor run_benchmark walk_benchmark >/dev/null

# Not the tests' prefix: the benchmark rewrites the machine's keys and folders at will.
shm=/dev/shm
[ -d "$shm" ] && [ "$(stat -f -c %T "$shm")" = tmpfs ] || shm=$build
export WINEPREFIX="$shm/orvet-bench-wineprefix-$(id -u)"
pin() { taskset -c 0 "$@"; }
pin "$root/cmake/wine-prefix.sh" "$WINEPREFIX"
# The server first, so that it is pinned too.
pin wineserver -p60 </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT

exe="$build/run/Orvet Manual Contents Update.exe"
floor="$build/bench/run_floor.exe"
bench() { pin wine "$build/bench/run_benchmark.exe" --exe "$exe" --floor "$floor" "$@" </dev/null | tr -d '\r'; }

echo "prefix and trees on $(stat -f -c %T "$WINEPREFIX"), pinned to CPU 0"
echo "== 1,000 documents"
bench --documents 1000 --repeats 7
echo
echo "== 10,000 documents"
bench --documents 10000 --repeats 7
echo
echo "== 1,000 documents and one of 16 MiB (peak memory against the largest document)"
bench --documents 1000 --repeats 3 --big-document-mib 16
echo
echo "== the folder walk over 20,201 folders without links, against listing them alone"
pin wine "$build/bench/walk_benchmark.exe" --chapters 200 --sections 100 --rounds 7 </dev/null | tr -d '\r'
echo
echo "== the folder walk over a ladder of 30 levels, each a folder and a link to it, against the same tree without the links"
# Link names of 1 to 4 letters, and documents at the bottom whose names of 1 to 160 letters put the limit
# among them: a walk of every path would reach the bottom at dozens of lengths.
ladders=$(mktemp -d "$shm/orvet-ladder.XXXXXX")
trap 'wineserver -k 2>/dev/null || true; rm -rf "$ladders"' EXIT
for tree in plain linked; do
    rung="$ladders/$tree"
    mkdir "$rung"
    for level in $(seq 0 29); do
        mkdir "$rung/a"
        if [ "$tree" = linked ]; then ln -s a "$rung/$(printf 'b%.0s' $(seq $((level % 4 + 1))))"; fi
        rung="$rung/a"
    done
    for letters in $(seq 1 160); do
        printf '<head></head>' >"$rung/$(printf 'p%.0s' $(seq "$letters")).htm"
    done
done
pin wine "$build/bench/walk_benchmark.exe" --against "Z:${ladders//\//\\}\\plain" "Z:${ladders//\//\\}\\linked" \
    --rounds 7 </dev/null | tr -d '\r'
