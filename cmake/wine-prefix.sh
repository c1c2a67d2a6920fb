#!/usr/bin/env bash
# Creates the Wine prefix named by $1 when it is missing; safe to call from parallel tests.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine-loader.sh"

prefix=$1
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$prefix"

[ -f "$prefix/.orvet-ready" ] && exit 0

exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.orvet-ready" ] && exit 0

rm -rf "$prefix"
wine wineboot.exe -i >/dev/null 2>&1 </dev/null 9>&-
reg() { wine reg add "$@" /f >/dev/null 2>&1 </dev/null 9>&-; }
reg 'HKCU\Software\Wine' /v Version /d win81
# A closing box must not wait for a window manager, and a crash must end a test, not hang it.
reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
wineserver -w
touch "$prefix/.orvet-ready"
