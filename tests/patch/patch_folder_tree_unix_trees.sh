#!/usr/bin/env bash
# Usage: patch_folder_tree_unix_trees.sh WINE_RUN PREFIX TEST_PROGRAM
# Runs the walk cases whose trees Wine can't make from inside (it has no directory links and no way
# to map a drive): trees of directory links, and a drive letter of its own mapped to a
# scratch folder, which the test program starts in. Everything is removed again, also after a failure.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/wine_drive.sh"

wine_run=$1
prefix=$2
program=$3

# The prefix must exist before a drive is mapped into it: its creation starts from scratch.
"$(dirname "$wine_run")/wine-prefix.sh" "$prefix"

root=$(mktemp -d "${TMPDIR:-/tmp}/orvet-walk.XXXXXX")
link=
cleanup() {
    [ -n "$link" ] && rm -f "$link"
    rm -rf "$root"  # rm never follows the links
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Directory links, each tree with one page that needs the tag:
# - cycle-long: two links back to their own folder with long names, which reach the path limit within
#   a few levels;
# - cycle-ab: the same with one-letter names: about 100 levels fit in the path limit, 2^100 paths;
# - ladder: 30 folders, each holding two links to the next, the page in the last: 2^30 paths, no cycle;
# - two-links: a folder that holds two links to one folder outside it, which holds the page;
# - space, devices: the same cycle as cycle-ab in a folder named "y " (Windows drops the trailing
#   space) or "prn" with links "lpt1" and "lpt2" (devices to Windows), the page listed last;
# - guide: two folders named "aux", after a link that makes the walk read identities;
# - limit: a link whose path is 253 characters long leads to z, listed after it, whose sub lies beyond
#   the limit that way;
# - dots: "y." and "y.." beside it, each with a page, and a link z to "y.": ordinary paths would take
#   "y." for "y" and "y.." for "y.";
# - lengths: a link "a" and one of 100 letters to one folder outside, which holds p.htm and a page
#   of 150 letters that only the short way reaches within the limit;
# - context: A\B\L links back to A, whose last entry is its page, and Z links to A\B: Z leads
#   through L to A, which is not on that path, so Z yields A's page;
# - shortcut: A, of 60 letters, holds X, whose link l leads back to A, and two folders of 100 and 88
#   letters down to D; S links to X. D's page lies within the limit only by way of S, X and l;
# - ladder-lengths: 7 levels, each a folder "a" and a link to it of 2^i+1 letters: 128 lengths of path
#   to the bottom folder, which holds the pages.
mkdir "$root/cycle-long" "$root/cycle-ab" "$root/ladder" "$root/shared" "$root/two-links"
ln -s . "$root/cycle-long/zz-link-one-to-its-own-folder-xxxxxxxxxxxx"
ln -s "$root/cycle-long" "$root/cycle-long/zz-link-two-to-its-own-folder-xxxxxxxxxxxx"
ln -s . "$root/cycle-ab/a"
ln -s "$root/cycle-ab" "$root/cycle-ab/b"
for level in $(seq 1 30); do
    mkdir "$root/ladder/$level"
    if [ "$level" -lt 30 ]; then
        ln -s "../$((level + 1))" "$root/ladder/$level/x"
        ln -s "$root/ladder/$((level + 1))" "$root/ladder/$level/y"
    fi
done
ln -s ../shared "$root/two-links/a"
ln -s "$root/shared" "$root/two-links/b"
mkdir -p "$root/space/y " "$root/devices/prn" "$root/guide/Setup/aux" "$root/guide/Tools/aux"
ln -s . "$root/space/y /a "
ln -s . "$root/space/y /b "
ln -s . "$root/devices/prn/lpt1"
ln -s . "$root/devices/prn/lpt2"
ln -s Setup "$root/guide/A-link"
# As the walk sees it: "Z:", the Unix path, the run of L's and "\lnk".
before="Z:$root/limit/a/"
ells=$(printf "%$((253 - ${#before} - 4))s" "" | tr ' ' L)
mkdir -p "$root/limit/a/$ells" "$root/limit/z/sub"
ln -s "$root/limit/z" "$root/limit/a/$ells/lnk"

mkdir -p "$root/dots/y." "$root/dots/y.." "$root/lengths" "$root/lengths-target" "$root/context/A/B"
ln -s y. "$root/dots/z"
ln -s ../lengths-target "$root/lengths/a"
ln -s "$root/lengths-target" "$root/lengths/$(printf 'b%.0s' $(seq 100))"
touch "$root/lengths-target/$(printf 'c%.0s' $(seq 150)).htm"
ln -s .. "$root/context/A/B/L"
ln -s A/B "$root/context/Z"
long_a="$root/shortcut/$(printf 'a%.0s' $(seq 60))"
mkdir -p "$long_a/X" "$long_a/$(printf 'd%.0s' $(seq 100))/$(printf 'e%.0s' $(seq 88))"
ln -s .. "$long_a/X/l"
ln -s "$long_a/X" "$root/shortcut/S"
rung="$root/ladder-lengths"
mkdir "$rung"
for level in $(seq 0 6); do
    mkdir "$rung/a"
    ln -s a "$rung/$(printf 'x%.0s' $(seq $((2 ** level + 1))))"
    rung="$rung/a"
done

mkdir -p "$root/drive/start"
map_wine_drive "$prefix" "$root/drive"

# Wine shows the root file system as Z:. A walk that does not end is stopped here, well inside the
# test's own timeout, so that the cleanup still runs.
trees="Z:${root//\//\\}"
output=$(cd "$root/drive/start" &&
         ORVET_WALK_LINK_TREES="$trees" ORVET_WALK_DRIVE="$drive" timeout -k 5 60 \
             "$wine_run" "$prefix" "$program" --gtest_filter='PatchFolderTreeUnixTreeTest.*' --gtest_color=no 2>&1) &&
    status=0 || status=$?
printf '%s\n' "$output"
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "the walk did not end within 60 s" >&2
fi
# A skip would pass silently: both cases must have run.
if [ "$status" -eq 0 ] && ! grep -q '^\[  PASSED  \] 2 tests' <<<"$output"; then
    echo "not every case ran" >&2
    status=1
fi
if grep -q '^\[  SKIPPED \]' <<<"$output"; then
    echo "a case was skipped" >&2
    status=1
fi
exit "$status"
