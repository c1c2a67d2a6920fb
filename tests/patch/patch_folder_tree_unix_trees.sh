#!/usr/bin/env bash
# Usage: patch_folder_tree_unix_trees.sh WINE_RUN PREFIX TEST_PROGRAM
# Runs the walk cases whose trees Wine can't make from inside (it has no directory links and no way
# to map a drive): trees of directory links, and a drive letter of its own mapped to a
# scratch folder, which the test program starts in. Everything is removed again, also after a failure.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/wine_drive.sh"

start_driver "$@"

root=$(mktemp -d "${TMPDIR:-/tmp}/orvet-walk.XXXXXX")
link=
cleanup() {
    [ -n "$link" ] && rm -f "$link"
    rm -rf "$root"  # rm never follows the links
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The test program writes the trees' folders and a plan of their links (patch_folder_tree_test.cpp
# describes them), which are made here: Wine makes no links itself.
trees="Z:${root//\//\\}"
run() {
    (cd "$root/drive/start" &&
        ORVET_WALK_LINK_TREES="$trees" ORVET_WALK_DRIVE="$drive" ORVET_WALK_LINK_PLAN="$trees\\plan.txt" \
            timeout -k 5 60 "$wine_run" "$prefix" "$program" --gtest_color=no "$@" 2>&1)
}
mkdir -p "$root/drive/start"
map_wine_drive "$prefix" "$root/drive"

plan=$(run --gtest_filter='PatchFolderTreeLinkTreeTest.PlansTheLinksForTheUnixSide') || {
    printf '%s\n' "$plan"
    exit 1
}
while IFS=$'\t' read -r to at; do ln -s "$to" "$at"; done <"$root/plan.txt"

# A walk that does not end is stopped well inside the test's own timeout, so that the cleanup still runs.
output=$(run --gtest_filter='PatchFolderTreeLinkTreeTest.*-*.PlansTheLinksForTheUnixSide') && status=0 || status=$?
printf '%s\n' "$output"
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "the walk did not end within 60 s" >&2
fi
every_case_ran "$status" "$output" "links table" "2 tests"
