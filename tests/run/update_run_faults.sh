#!/usr/bin/env bash
# Usage: update_run_faults.sh WINE_RUN PREFIX TEST_PROGRAM
# Gives the fault test's machine what Wine can't make from inside: links. Wine makes no directory or file
# links, and moves a link's target rather than the link. The test writes the documents and the records and
# clears them when it ends; the links, which Wine can't remove, go here.
# - the last manual folder holds sub and a link zlink to it, so that the walk reads identities;
# - what a standard user may plant in a manual folder, leading out of the maker's folders: a directory
#   link and a hard link to a read-only document;
# - links that stay inside: Localsite's to a dot folder of BasicManual and to a folder of the maker's;
# - a folder that a hook of the test tries to swap, at its document's open, for one holding a file link to a
#   document outside;
# - two drives of their own, whose Windows and ProgramData folders the test names in place of the
#   machine's: on A, Documentation is a link, one manual folder a link out and one a link inside; on B,
#   the user guide folder and the maker's ProgramData folder are links.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/../patch/wine_drive.sh"

start_driver "$@"
maker="$prefix/drive_c/ProgramData/Halvern Corporation"
care="$maker/Orvet Care"
outside="$prefix/drive_c/outside"
root=$(mktemp -d "${TMPDIR:-/tmp}/orvet-faults.XXXXXX")
links=()
clear() {
    rm -rf "$prefix/drive_c/Documentation/Orvet User Guide" "$maker" "$outside"
    rmdir "$prefix/drive_c/Documentation" 2>/dev/null || true
}
cleanup() {
    clear
    rm -f "${links[@]}"
    rm -rf "$root"  # rm never follows the links
}
clear
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$care/UpdatedManual/sub" "$care/BasicManual/.extra" "$care/swap" "$care/.spare" \
    "$care/Localsite" "$maker/Shared" "$outside"
ln -s sub "$care/UpdatedManual/zlink"
ln -s "$outside" "$care/BasicManual/out"
touch "$outside/linked.htm" "$outside/hard.htm" "$outside/swapped.htm"
# No file link to linked.htm: Wine opens a Unix file link as the file it leads to and shows it as that
# file, with no sign of a link, so it can't stand for one; the test makes it on Windows.
ln "$outside/hard.htm" "$care/BasicManual/hard.htm"
ln -s "$outside/swapped.htm" "$care/.spare/page.htm"
ln -s ../BasicManual/.extra "$care/Localsite/to-extra"
ln -s ../../Shared "$care/Localsite/to-shared"

drives=()
for name in a b; do
    mkdir -p "$root/$name/Windows"
    map_wine_drive "$prefix" "$root/$name"
    links+=("$link")
    drives+=("$drive")
done
a="$root/a"
mkdir -p "$a/elsewhere/Orvet User Guide" "$a/ProgramData/Halvern Corporation/Orvet Care/BasicManual" \
    "$a/ProgramData/Halvern Corporation/Shared" "$a/outside"
ln -s elsewhere "$a/Documentation"
ln -s "$a/outside" "$a/ProgramData/Halvern Corporation/Orvet Care/BasicManual/out"
ln -s "$a/outside" "$a/ProgramData/Halvern Corporation/Orvet Care/Localsite"
ln -s ../Shared "$a/ProgramData/Halvern Corporation/Orvet Care/UpdatedManual"
b="$root/b"
mkdir -p "$b/Documentation" "$b/outside-guide" "$b/ProgramData" "$b/other-maker/Orvet Care/BasicManual"
ln -s "$b/outside-guide" "$b/Documentation/Orvet User Guide"
ln -s "$b/other-maker" "$b/ProgramData/Halvern Corporation"

ORVET_DRIVE_A=${drives[0]} ORVET_DRIVE_B=${drives[1]} "$wine_run" "$prefix" "$program" --gtest_color=no
