#!/usr/bin/env bash
# Usage: kit_under_wine.sh KIT_ZIP SCRATCH WINE_PREFIX_SCRIPT
# The test kit as a vendor runs it, under Wine: unpacked from its zip, checked against SHA256SUMS, and run
# with cmd in a fresh prefix (reporting Windows 8.1) three times. Whole, it must pass. With one test made
# to fail (the notice expected in Japanese on an English desktop) its closing line must say
# "N passed, 1 failed" and its exit code must not be 0. Once the prefix holds the maker's Manual record,
# it must refuse, naming the record, and change nothing. After each run the prefix must hold nothing that
# the tests made. The kit's output goes to this test's log only.
set -euo pipefail

zip=$(realpath "$1")
scratch=$(realpath -m "$2")
make_prefix=$3

# The notice tests need a display; the second run needs them to run.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a bash "$0" "$@"
fi
. "$(dirname "$make_prefix")/wine-loader.sh"

rm -rf "$scratch"
mkdir -p "$scratch"
(cd "$(dirname "$zip")" && sha256sum --check --quiet SHA256SUMS)
(cd "$scratch" && cmake -E tar xf "$zip")
kit="$scratch/orvet-test-kit"
programs=$(ls "$kit/tests" | grep -c '\.exe$')

export WINEPREFIX="$scratch/prefix"
"$make_prefix" "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null || true' EXIT
# Nothing of the build's own prefix or of CTest's settings may reach the kit; English, as on most desktops.
unset ORVET_BUILD_PREFIX ORVET_EXE ORVET_NOTICE_LANGUAGE
export LC_ALL=C.UTF-8

fail() {
    echo "kit_under_wine: $*" >&2
    exit 1
}

# Runs the kit; its output, without carriage returns, lands in $scratch/$1.log and $status holds its exit code.
run_kit() {
    local log="$scratch/$1.log"
    shift
    status=0
    (cd "$kit" && wine cmd /c run-tests.cmd "$@" </dev/null) >"$log.raw" 2>&1 || status=$?
    tr -d '\r' <"$log.raw" >"$log"
    echo "--- the kit's output (exit code $status):"
    cat "$log"
    closing=$(tail -n 1 "$log")
}

# What the tests may not leave: the maker's keys, the registry tests' scratch keys, the executable's Wine
# version setting, the manual folders and the scratch folders.
expect_no_traces() {
    wineserver -w
    local found
    found=$(grep -l -e 'Halvern Corporation' -e 'OrvetRunTest' -e 'AppDefaults\\\\Orvet' "$WINEPREFIX"/*.reg || true)
    found+=$(cd "$WINEPREFIX/drive_c" && ls -d Documentation "ProgramData/Halvern Corporation" 2>/dev/null || true)
    found+=$(find "$WINEPREFIX/drive_c/users" -name 'orvet-*' 2>/dev/null)
    [ -z "$found" ] || fail "$1 left traces behind: $found"
}

run_kit whole --throwaway-machine
[ "$status" -eq 0 ] || fail "the whole kit exited with $status"
[ "$closing" = "$programs passed, 0 failed" ] || fail "the whole kit closed with \"$closing\""
expect_no_traces "the whole kit"

ORVET_NOTICE_LANGUAGE=0411 run_kit one-failing --throwaway-machine
[ "$status" -ne 0 ] || fail "a failed test left the exit code 0"
[ "$closing" = "$((programs - 1)) passed, 1 failed" ] || fail "one failed test closed with \"$closing\""
grep -q '^FAILED   notice_test: see results\\notice_test.log$' "$scratch/one-failing.log" ||
    fail "the failed program is not named"
expect_no_traces "the kit with a failing test"

wine reg add 'HKLM\SOFTWARE\Halvern Corporation\Shared Info\AppDB\Orvet Manual' /v version /d 3.0.0.08100 /f \
    >/dev/null 2>&1
# What a run could change: the prefix's drive, the kit's folder with its results, and the registry keys
# the tests write, with their values (Wine itself rewrites its device keys at every start).
snapshot() {
    wineserver -w
    (cd "$scratch" && find prefix/drive_c orvet-test-kit -printf '%p %s %T@\n' | sort &&
        awk '/^\[/ { keep = /Halvern Corporation|OrvetRunTest|AppDefaults\\\\Orvet/; sub(/\] [0-9]+$/, "]") }
             keep && !/^#time=/' prefix/*.reg) | sha256sum
}
before=$(snapshot)
run_kit refused --throwaway-machine
[ "$status" -ne 0 ] || fail "the kit ran on a machine with the maker's record"
grep -q 'HKLM\\SOFTWARE\\Halvern Corporation' "$scratch/refused.log" || fail "the refusal names no record"
! grep -q 'passed\|FAILED' "$scratch/refused.log" || fail "the kit ran tests on a machine with the maker's record"
[ "$(snapshot)" = "$before" ] || fail "the refusal changed the machine or the kit"
echo "kit_under_wine: the kit passed whole, reported its one failed test, and refused the maker's machine"
