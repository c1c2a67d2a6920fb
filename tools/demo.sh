#!/usr/bin/env bash
# The tool's main job on a sample machine: a fresh Wine prefix made eligible, a few manual documents in the
# four folders, one run of the real executable as a user would start it, and a short report; then the
# notice of one run in each language, checked and put side by side in one picture.
# The sample documents: one needing the compatibility tag, one the zone comment, one both, a read-only one,
# one up to date. The report: the exit code, each document with its change and attributes, the stamp read
# back from the registry and a diff of one document; demo-out/notice.png is the notice, dismissed after its
# screenshot, and demo-out/notice-languages.png the 23 languages' boxes (and one locale without a table,
# fi_FI), each labelled and checked against its table: a wrong text fails the demo. About 32 s, the
# sheet 12 s more. Where the kernel runs no 32-bit programs it runs the 64-bit build of the same code.
# Whatever ends it, it stops the run it started and its prefix's Wine server; a notice that does not
# appear within 30 s ends the run instead of holding the demo.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$root/demo-out"

if [ "${1:-}" != --inner ]; then
    # Wine first: which build can run here is known only once it is installed.
    if [ "$(id -u)" -eq 0 ]; then "$root/tools/install-deps.sh"; fi
    . "$root/cmake/wine-loader.sh"
    cd "$root"
    cmake --preset "$ORVET_PRESET" >/dev/null
    cmake --build --preset "$ORVET_PRESET" --target orvet_update notice_probe >/dev/null
    # The completion notice is a real window: give Wine a display of its own. The decision travels
    # in the environment, so that the inner run uses the build made here.
    exec xvfb-run -a -s "-screen 0 800x600x24" "$0" --inner
fi
[ -n "${ORVET_PRESET:-}" ] || { echo "demo: --inner is for the demo's own use" >&2; exit 2; }

build="$root/build/$ORVET_PRESET"
exe="$build/run/Orvet Manual Contents Update.exe"
probe="$build/tools/harness/notice_probe.exe"

rm -rf "$out"
mkdir -p "$out/before"
export WINEPREFIX="$out/wineprefix"
# Whatever ends the demo, the run it started and the prefix's server go with it.
run=""
cleanup() {
    if [ -n "$run" ]; then kill "$run" 2>/dev/null || true; fi
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM
"$root/cmake/wine-prefix.sh" "$WINEPREFIX"
wineserver -p60 </dev/null >/dev/null 2>&1 || true

# A reg.exe of the tool's own bitness reaches the registry view that the tool reads.
reg_exe='C:\windows\syswow64\reg.exe'
[ "$ORVET_PRESET" = windows ] || reg_exe='C:\windows\system32\reg.exe'
reg_tool() { wine "$reg_exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
reg_tool add 'HKLM\SOFTWARE\Halvern Corporation\Shared Info\AppDB\Orvet Manual' /v version /d 3.0.0.08100 /f >/dev/null

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
printf 'Not a document.\r\n' >"$care/UpdatedManual/notes.txt"
wine attrib +r 'C:\ProgramData\Halvern Corporation\Orvet Care\Localsite\readonly.htm' </dev/null >/dev/null 2>&1

documents=(
    "$guide/index.htm" "$guide/Setup/install.html" "$care/BasicManual/basics.htm"
    "$care/Localsite/readonly.htm" "$care/UpdatedManual/current.html" "$care/UpdatedManual/notes.txt"
)
for p in "${documents[@]}"; do
    mkdir -p "$out/before/$(dirname "${p#"$drive_c/"}")"
    cp -p "$p" "$out/before/${p#"$drive_c/"}"
done

# Started by a user: no updater flag. The notice, if any, is photographed and then dismissed.
wine "$exe" </dev/null >/dev/null 2>&1 &
run=$!
notice=""
if notice=$(timeout 60 wine "$probe" wait 30 </dev/null 2>/dev/null | tr -d '\r') && [ -n "$notice" ]; then
    import -window root "$out/notice.png"
    wine "$probe" dismiss </dev/null >/dev/null 2>&1 || true
else
    notice=""
fi
# A run whose box was not found, or would not go, must not hold the demo: it is given a few seconds
# after the probe gave up, then stopped, and reported by its exit code.
for _ in $(seq 50); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
kill "$run" 2>/dev/null || true
set +e
wait "$run"
code=$?
set -e
run=""

echo "Orvet Manual Contents Update on a sample machine ($WINEPREFIX)"
echo
echo "exit code: $code"
echo
echo "documents:"
for p in "${documents[@]}"; do
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
reg_tool query 'HKLM\SOFTWARE\Halvern Corporation\Shared Info\AppDB\Orvet Manual Contents Update' /v version |
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

# The notice in every language: the same machine, run again under each locale (its documents are up to
# date now and still count as handled, so every run shows the box). Each box is checked against its
# table before its piece of the screen is kept; the last language has no table and shows the fallback.
sheet_languages=(
    0402:bg_BG 0404:zh_TW 0405:cs_CZ 0407:de_DE 0408:el_GR 0409:en_US 040C:fr_FR 040E:hu_HU
    0410:it_IT 0411:ja_JP 0412:ko_KR 0413:nl_NL 0415:pl_PL 0416:pt_BR 0418:ro_RO 0419:ru_RU
    041B:sk_SK 041E:th_TH 041F:tr_TR 0422:uk_UA 0804:zh_CN 0C04:zh_HK 0C0A:es_ES "040B:fi_FI:no table"
)
sheet_start=$SECONDS
mkdir -p "$out/tiles"
tiles=()
sheet_fail() {
    echo "demo: the notice under LC_ALL=$locale (0x$language): $1" >&2
    exit 1
}
for entry in "${sheet_languages[@]}"; do
    IFS=: read -r language locale note <<<"$entry"
    locale=$locale.UTF-8
    LC_ALL=$locale wine "$exe" </dev/null >/dev/null 2>&1 &
    run=$!
    if ! shown=$(LC_ALL=$locale timeout 60 wine "$probe" check 30 "$language" </dev/null 2>"$out/tiles/check.txt"); then
        sheet_fail "$(tr -d '\r' <"$out/tiles/check.txt")"
    fi
    # The box's rectangle in Windows screen coordinates; with unmanaged windows on Xvfb, the same
    # place on the X root window.
    place=$(tr -d '\r' <<<"$shown" | sed -n 2p)
    import -window root -crop "$place" +repage "$out/tiles/$language.png"
    timeout 30 wine "$probe" dismiss </dev/null >/dev/null 2>&1 || sheet_fail "the box did not go when OK was pressed"
    wait "$run" || sheet_fail "the run ended with exit code $?"
    run=""
    tiles+=(-label "0x$language $locale${note:+, $note}" "$out/tiles/$language.png")
done
# ImageMagick's default label font is a PostScript one that Debian may not have.
montage -font DejaVu-Sans -pointsize 13 "${tiles[@]}" -tile 4x -geometry '240x110>+4+4' -background white \
    "$out/notice-languages.png"
echo
echo "completion notice in ${#sheet_languages[@]} languages, each checked against its table:" \
    "$out/notice-languages.png ($((SECONDS - sheet_start)) s)"
