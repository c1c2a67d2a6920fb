#!/usr/bin/env bash
# The tool's main job on a sample machine: a fresh Wine prefix made eligible, a few manual pages in the
# four folders, one run of the real executable as a user would start it, and a short report.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$root/demo-out"

if [ "${1:-}" != --inner ]; then
    [ "$(id -u)" -eq 0 ] && "$root/tools/install-deps.sh"
    cd "$root"
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target orvet_update notice_probe >/dev/null
    # The completion notice is a real window: give Wine a display of its own.
    exec xvfb-run -a -s "-screen 0 800x600x24" "$0" --inner
fi

build="$root/build/windows"
exe="$build/run/Orvet Manual Contents Update.exe"
probe="$build/tests/notice/notice_probe.exe"

rm -rf "$out"
mkdir -p "$out/before"
export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/cmake/wine-prefix.sh" "$WINEPREFIX"
wineserver -p60 </dev/null >/dev/null 2>&1 || true

# A 32-bit reg.exe reaches the registry view that the 32-bit tool reads.
reg32() { wine 'C:\windows\syswow64\reg.exe' "$@" </dev/null 2>/dev/null | tr -d '\r'; }
reg32 add 'HKLM\SOFTWARE\Halvern Corporation\Shared Info\AppDB\Orvet Manual' /v version /d 3.0.0.08100 /f >/dev/null

drive_c="$WINEPREFIX/drive_c"
guide="$drive_c/Documentation/Orvet User Guide"
care="$drive_c/ProgramData/Halvern Corporation/Orvet Care"
mkdir -p "$guide/Setup" "$care/BasicManual" "$care/Localsite" "$care/UpdatedManual"

zone='<!-- saved from url=(0014)about:internet -->'
local_machine='<!-- saved from url=(0016)http://localhost -->'
tag='<meta http-equiv="X-UA-Compatible" content="IE=edge" />'
printf '<html>\r\n<head>\r\n<title>Getting started</title>\r\n</head>\r\n<body><p>Welcome.</p></body>\r\n</html>\r\n' \
    >"$guide/index.htm"
printf '%s\r\n<html>\r\n<head>\r\n<title>Installing</title>\r\n</head>\r\n<body><p>Run the installer.</p></body>\r\n</html>\r\n' \
    "$zone" >"$guide/Setup/install.html"
printf '%s\r\n<html>\r\n<body><p>Basic operation.</p></body>\r\n</html>\r\n' "$zone" >"$care/BasicManual/basics.htm"
printf '<html>\r\n<HEAD>\r\n<title>Site</title>\r\n</HEAD>\r\n<body><p>Local site.</p></body>\r\n</html>\r\n' \
    >"$care/Localsite/readonly.htm"
printf '%s\r\n<html>\r\n<head>%s\r\n<title>News</title>\r\n</head>\r\n<body><p>Up to date.</p></body>\r\n</html>\r\n' \
    "$local_machine" "$tag" >"$care/UpdatedManual/current.html"
printf 'Not a page.\r\n' >"$care/UpdatedManual/notes.txt"
wine attrib +r 'C:\ProgramData\Halvern Corporation\Orvet Care\Localsite\readonly.htm' </dev/null >/dev/null 2>&1

pages=(
    "$guide/index.htm" "$guide/Setup/install.html" "$care/BasicManual/basics.htm"
    "$care/Localsite/readonly.htm" "$care/UpdatedManual/current.html" "$care/UpdatedManual/notes.txt"
)
for p in "${pages[@]}"; do
    mkdir -p "$out/before/$(dirname "${p#"$drive_c/"}")"
    cp -p "$p" "$out/before/${p#"$drive_c/"}"
done

# Started by a user: no updater flag. The notice, if any, is photographed and then dismissed.
wine "$exe" </dev/null >/dev/null 2>&1 &
run=$!
notice=""
if notice=$(wine "$probe" wait 30 </dev/null 2>/dev/null | tr -d '\r'); then
    import -window root "$out/notice.png"
    wine "$probe" dismiss </dev/null >/dev/null 2>&1 || true
else
    notice=""
fi
set +e
wait "$run"
code=$?
set -e

echo "Orvet Manual Contents Update on a sample machine ($WINEPREFIX)"
echo
echo "exit code: $code"
echo
echo "pages:"
for p in "${pages[@]}"; do
    rel=${p#"$drive_c/"}
    before="$out/before/$rel"
    attr=$(wine attrib "C:\\${rel//\//\\}" </dev/null 2>/dev/null | tr -d '\r' | cut -c1-10 | tr -s ' ')
    if cmp -s "$before" "$p"; then
        change="unchanged"
    else
        change="changed, $(stat -c %s "$before") -> $(stat -c %s "$p") bytes"
    fi
    printf '  C:\\%-72s %-28s attributes: %s\n' "${rel//\//\\}" "$change" "${attr:-none}"
done
echo
echo "stamp in the registry:"
reg32 query 'HKLM\SOFTWARE\Halvern Corporation\Shared Info\AppDB\Orvet Manual Contents Update' /v version |
    sed -n 's/^ *version/  version/p'
echo
if [ -n "$notice" ]; then
    echo "completion notice: \"$notice\" (screenshot: $out/notice.png)"
else
    echo "completion notice: none shown"
fi
echo
echo "C:\\Documentation\\Orvet User Guide\\Setup\\install.html, before and after:"
diff -u --label before --label after "$out/before/Documentation/Orvet User Guide/Setup/install.html" \
    "$guide/Setup/install.html" | tr -d '\r' || true
wineserver -k 2>/dev/null || true
