#!/usr/bin/env bash
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
# Runs a Windows program under Wine in the build's own prefix, never the user's.
# The prefix is created on first use (64-bit, reporting Windows 8.1, nothing downloaded);
# creation is serialised, since parallel first use of a missing prefix fails at random.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/wine-loader.sh"
export WINEPREFIX=$(realpath -m "$1")
shift

"$here/wine-prefix.sh" "$WINEPREFIX"

# One long-lived server keeps every test from paying for a server start. The services that Wine
# starts with it must not inherit this program's output: they would hold the caller's pipe open,
# nor the lock, which they would hold for as long as the server lives.
exec 9>"$WINEPREFIX.lock"
flock 9
if wineserver -p120 >/dev/null 2>&1 </dev/null 9>&-; then
    wine wineboot.exe >/dev/null 2>&1 </dev/null 9>&- || true
fi
exec 9>&-

# The test programs' safety rules (tools/harness/guard.h) are for machines that hold real manuals;
# this prefix is the build's own and its suites run side by side.
export ORVET_BUILD_PREFIX=1
exec wine "$@"
