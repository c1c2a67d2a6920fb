#!/usr/bin/env bash
# Usage: patch_document_write_failure.sh WINE_RUN PREFIX TEST_PROGRAM
# Runs the full-drive cases of the document patcher on a real small drive: a tmpfs of its own, mapped
# into the Wine prefix as a free drive letter, and always unmapped and unmounted again. Needs root;
# exits 77 (skipped) where no tmpfs can be mounted.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/wine_drive.sh"

base=${TMPDIR:-/tmp}

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: mounting a tmpfs needs root" >&2
    exit 77
fi

start_driver "$@"

# A run killed outright (a CTest timeout) can't clean up after itself; the next one does.
for stale in "$prefix"/dosdevices/?:; do
    target=$(readlink "$stale" 2>/dev/null) || continue
    case $target in */orvet-full-drive-*) ;; *) continue ;; esac
    pid=${target##*/orvet-full-drive-}
    pid=${pid%%-*}
    kill -0 "$pid" 2>/dev/null && continue
    rm -f "$stale"
    if [ -d "$target" ]; then
        umount "$target" 2>/dev/null || true
        rmdir "$target" 2>/dev/null || true
    fi
done

mountpoint=$(mktemp -d "$base/orvet-full-drive-$$-XXXXXX")
link=
cleanup() {
    [ -n "$link" ] && rm -f "$link"
    if mountpoint -q "$mountpoint"; then
        umount "$mountpoint" 2>/dev/null || umount -l "$mountpoint"
    fi
    rmdir "$mountpoint"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Sixteen memory pages of 4 KiB: room for a document and the filler that takes the rest.
if ! mount -t tmpfs -o size=64k,mode=0777 orvet-full-drive "$mountpoint"; then
    echo "skipped: no tmpfs can be mounted here" >&2
    exit 77
fi

map_wine_drive "$prefix" "$mountpoint"
status=0
output=$(ORVET_FULL_DRIVE="$drive" "$wine_run" "$prefix" "$program" \
             --gtest_filter='PatchDocumentFullDriveTest.*' --gtest_color=no 2>&1) || status=$?
printf '%s\n' "$output"
every_case_ran "$status" "$output" full-drive
