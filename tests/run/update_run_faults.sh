#!/usr/bin/env bash
# Usage: update_run_faults.sh WINE_RUN PREFIX TEST_PROGRAM
# Gives the fault test's machine the one thing Wine can't make from inside, a directory link: the last
# manual folder holds sub and a link zlink to it, so that the walk reads identities. The test writes
# the pages and the records and clears them when it ends; the link, which Wine can't remove, goes here.
set -euo pipefail

wine_run=$1
prefix=$2
program=$3

"$(dirname "$wine_run")/wine-prefix.sh" "$prefix"
care="$prefix/drive_c/ProgramData/Halvern Corporation/Orvet Care"
clear() {
    rm -rf "$prefix/drive_c/Documentation/Orvet User Guide" "$care"
    rmdir "$(dirname "$care")" "$prefix/drive_c/Documentation" 2>/dev/null || true
}
clear
trap clear EXIT
mkdir -p "$care/UpdatedManual/sub"
ln -s sub "$care/UpdatedManual/zlink"
"$wine_run" "$prefix" "$program" --gtest_color=no
