#!/usr/bin/env bash
# Usage: release_folder_test.sh SCRATCH MAP NOTICES_SCRIPT RELEASE_COMMAND...
# Writes the release folder with RELEASE_COMMAND (the build's own, given its OUT_DIR here) and checks it:
# every input the link map shows from outside the build is in the notices, each section carries the
# notices the licences ask for, the SPDX document matches the folder's files, SHA256SUMS covers them all.
# Then feeds the notices altered maps: what no rule covers, or no package holds, must fail the release.
set -euo pipefail
scratch=$1 map=$2 notices_script=$3
shift 3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rm -rf "$scratch"
mkdir -p "$scratch"
out=$scratch/out
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The document's creation time is the last commit's; outside a checkout a fixed one.
git -C "$here" log -1 >/dev/null 2>&1 || export SOURCE_DATE_EPOCH=1767225600
script=${*: -1}
"${@:1:$#-1}" "-DOUT_DIR=$out" -P "$script" >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "writing the release folder"; }
notices=$out/THIRD-PARTY-NOTICES.txt

# --- Everything linked from outside the build has its notice ---------------------------------------------
linked=$(awk '/^Archive member included/ { on = 1; next } /^(Discarded input|Memory Configuration)/ { on = 0 }
              on && /^\// { sub(/[ \t].*/, ""); print } /^LOAD \/.*\.o$/ { print $2 }' "$map" | sort -u)
count=0
while IFS= read -r input; do
    file=${input%%(*} member=""
    [ "$file" = "$input" ] || { member=${input#*(}; member=${member%)}; }
    base=${file##*/}
    if [ -n "$member" ]; then
        pattern=${member//./\\.}
        grep -qE "^  ${base//+/\\+}:( .*)? ${pattern//+/\\+}( |$)" "$notices" || fail "no notice lists $base($member)"
    else
        grep -qx "  $base" "$notices" || fail "no notice lists $base"
    fi
    count=$((count + 1))
done <<<"$linked"
[ "$count" -gt 100 ] || fail "only $count inputs from outside the build in $map"

# section_of NOTICES TITLE: the section whose title begins with TITLE
section_of() { awk -v title="$2" '/^=+$/ { getline; on = (index($0, title) == 1) } on' "$1"; }

# Each section names its package as installed, and carries the texts its licences require in binaries:
# SECTION TITLE (start)|TEXT
while IFS='|' read -r title text; do
    section=$(section_of "$notices" "$title")
    [ -n "$section" ] || fail "no section \"$title\""
    grep -qF "$text" <<<"$section" || fail "section \"$title\" lacks \"$text\""
done <<'EOF_TEXTS'
winpthreads|Permission is hereby granted, free of charge
winpthreads|Copyright: 2010 Lockless Inc.
mingw-w64 runtime and import libraries|License: ZPL-2.1
mingw-w64 runtime and import libraries|Redistributions in binary form must reproduce the accompanying
libstdc++|GCC RUNTIME LIBRARY EXCEPTION
libgcc|GCC RUNTIME LIBRARY EXCEPTION
EOF_TEXTS
while read -r package version; do
    [ "$(dpkg-query -W -f='${Version}' "$package")" = "$version" ] || fail "$package is not $version here"
done < <(sed -n 's/^Package: //p' "$notices")

# --- The SPDX document and SHA256SUMS against the folder --------------------------------------------------
cmake "-DRELEASE_DIR=$out" -P "$here/check_spdx.cmake" || fail "the SPDX document does not match the folder"
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not check"
listed=$(cut -c67- "$out/SHA256SUMS" | sort)
present=$(cd "$out" && find . -type f ! -name SHA256SUMS -printf '%P\n' | sort)
[ "$listed" = "$present" ] || fail "SHA256SUMS lists $(paste -sd' ' <<<"$listed"), the folder holds $(paste -sd' ' <<<"$present")"

# --- Altered maps ---------------------------------------------------------------------------------------
# CASE|LINE ADDED TO THE MEMBER LIST|EXPECTED: "fails: REASON" or "section: TITLE|TEXT"
gcc_dir=$(dirname "$(grep -m1 -oE '^/[^ (]+/libgcc\.a' "$map")")
mingw_lib=$(dirname "$(grep -m1 -oE '^/[^ (]+/libmingwex\.a' "$map")")
printf 'not from a package' >"$scratch/libstray.a"
while IFS='|' read -r case added expected; do
    awk -v added="$added" '{ print } /^Archive member included/ { print added; print "                    x.o (y)" }' \
        "$map" >"$scratch/$case.map"
    if bash "$notices_script" "$scratch/$case.map" "$scratch/$case.txt" "$scratch/$case.components" \
        2>"$scratch/$case.err"; then
        case $expected in
        section:*)
            IFS='|' read -r title text <<<"${expected#section: }"
            section_of "$scratch/$case.txt" "$title" | grep -qF "$text" || fail "$case: no \"$text\" in \"$title\""
            ;;
        *) fail "$case: notices written" ;;
        esac
    else
        [[ $expected == fails:* ]] || fail "$case: $(cat "$scratch/$case.err")"
        grep -qF "${expected#fails: }" "$scratch/$case.err" || fail "$case: failed otherwise: $(cat "$scratch/$case.err")"
    fi
done <<EOF_MAPS
uncovered-archive|$gcc_dir/libquadmath.a(quadmath_snprintf.o)|fails: libquadmath.a(quadmath_snprintf.o) (gcc-mingw-w64-
not-from-a-package|$scratch/libstray.a(stray.o)|fails: $scratch/libstray.a was linked but belongs to no installed package
number-conversions|$mingw_lib/libmingwex.a(lib32_libmingwex_a-gdtoa.o)|section: mingw-w64 runtime: gdtoa number conversions|Copyright: 1997-2001 Lucent Technologies
formatted-output|$mingw_lib/libmingwex.a(lib32_libmingwex_a-mingw_pformat.o)|section: mingw-w64 runtime: formatted output|License: Keith-Marshall
thread-clock|$mingw_lib/libpthread.a(libwinpthread_la-clock.o)|section: winpthreads of mingw-w64: clock and sleep|License: public-domain
EOF_MAPS
echo "release folder: $count linked inputs covered by $(grep -c '^Package: ' "$notices") notice sections"
rm -rf "$scratch"
