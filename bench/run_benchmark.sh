#!/usr/bin/env bash
# The whole update run under Wine: the real executable over generated manual trees of 1,000 and 10,000
# pages, timed against a floor program that only reads every page and writes it back once, both in one
# Wine prefix of the benchmark's own; and the peak memory of each against the largest page.
# Usage: bench/run_benchmark.sh [BUILD_DIR]   (a windows-preset build; default build/windows)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$root/build/windows}")

[ -f "$build/CMakeCache.txt" ] || cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target orvet_update run_floor run_benchmark >/dev/null

# Not the tests' prefix: the benchmark rewrites the machine's keys and folders at will.
export WINEPREFIX="$build/bench-wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/cmake/wine-prefix.sh" "$WINEPREFIX"
wineserver -p60 </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT

exe="$build/run/Orvet Manual Contents Update.exe"
floor="$build/bench/run_floor.exe"
bench() { wine "$build/bench/run_benchmark.exe" --exe "$exe" --floor "$floor" "$@" </dev/null | tr -d '\r'; }

echo "== 1,000 pages"
bench --pages 1000 --repeats 5
echo
echo "== 10,000 pages"
bench --pages 10000 --repeats 3
echo
echo "== 1,000 pages and one of 16 MiB (peak memory against the largest page)"
bench --pages 1000 --repeats 3 --big-page-mib 16
