#!/usr/bin/env bash
# Usage: third-party-notices.sh MAP NOTICES COMPONENTS
# From MAP, the linker's map of the executable, finds every input that came from outside the build: the
# archive members the link pulled in and the objects it loaded whole. Each is traced to its Debian package
# (dpkg -S), and NOTICES gets one section per component linked: what was linked, from which package and
# version, and the notices that package's /usr/share/doc/<package>/copyright gives for it. COMPONENTS gets
# one line per component for the release's SPDX document: ID|NAME|PACKAGE|VERSION|LICENCE|ARCHIVES.
# Fails, naming it, for an input that no rule below covers or that no installed package holds: a release
# must not ship code whose notice nobody looked at.
set -euo pipefail -f
map=$1 notices=$2 components=$3

# What each linked input is and which part of its package's copyright file covers it. The first row that
# matches an input wins, so the rows for files with notices of their own come before the catch-all of
# their package, as the copyright files' own stanzas do.
#   ID | NAME | PACKAGE (glob) | INPUTS (globs on the file name) | MEMBERS (globs) | LICENCE (SPDX) | TEXT
# TEXT: "files=PATTERN" is the stanza of a machine-readable copyright file whose Files field begins with
# PATTERN (with the licence text it refers to); "range=FIRST~LAST" the lines from FIRST up to, not
# including, LAST; ";" separates several.
rules=$(cat <<'EOF_RULES'
libstdcxx|libstdc++, the C++ runtime library of GCC|g++-mingw-w64-*|libstdc++.a|*|GPL-3.0-or-later WITH GCC-exception-3.1|range=GCC is Copyright (C) 1986, 1987,~The libbacktrace library is licensed under the following terms:;range=GCC RUNTIME LIBRARY EXCEPTION~libquadmath/*.[hc]:
libgcc|libgcc, the low-level runtime library of GCC|gcc-mingw-w64-*|libgcc.a libgcc_eh.a crtbegin.o crtend.o|*|GPL-3.0-or-later WITH GCC-exception-3.1|range=GCC is Copyright (C) 1986, 1987,~The libbacktrace library is licensed under the following terms:;range=GCC RUNTIME LIBRARY EXCEPTION~libquadmath/*.[hc]:
winpthreads-clock|winpthreads of mingw-w64: clock and sleep|mingw-w64-*-dev|libpthread.a libwinpthread.a|*-clock.o *-nanosleep.o|LicenseRef-public-domain AND BSD-3-Clause|files=mingw-w64-libraries/winpthreads/src/clock.c;files=mingw-w64-libraries/winpthreads/include/pthread.h
winpthreads-dll-math|winpthreads of mingw-w64: 64-bit division|mingw-w64-*-dev|libpthread.a libwinpthread.a|*-dll_math.o|BSD-3-Clause|files=mingw-w64-libraries/winpthreads/src/libgcc/dll_math.c;files=mingw-w64-libraries/winpthreads/include/pthread.h
winpthreads|winpthreads, the POSIX threads library of mingw-w64|mingw-w64-*-dev|libpthread.a libwinpthread.a|*|MIT AND BSD-3-Clause|files=mingw-w64-libraries/winpthreads/*;files=mingw-w64-libraries/winpthreads/include/pthread.h
mingw-gdtoa|mingw-w64 runtime: gdtoa number conversions|mingw-w64-*-dev|libmingwex.a|*-dmisc.o *-dtoa.o *-g_dfmt.o *-gdtoa.o *-gethex.o *-g_ffmt.o *-g__fmt.o *-gmisc.o *-g_xfmt.o *-hd_init.o *-hexnan.o *-misc.o *-smisc.o *-strtodg.o *-strtof.o *-strtopx.o *-sum.o *-ulp.o|LicenseRef-Lucent|files=mingw-w64-crt/gdtoa/*
mingw-gdtoa-gay|mingw-w64 runtime: gdtoa NaN and rounding|mingw-w64-*-dev|libmingwex.a|*-qnan.o *-strtodnrp.o|LicenseRef-David-Gay|files=mingw-w64-crt/gdtoa/qnan.c
mingw-printf|mingw-w64 runtime: formatted output|mingw-w64-*-dev|libmingwex.a|*-mingw_printf*.o *-mingw_fprintf*.o *-mingw_sprintf*.o *-mingw_snprintf*.o *-mingw_vprintf*.o *-mingw_vfprintf*.o *-mingw_vsprintf*.o *-mingw_vsnprintf*.o *-mingw_pformat*.o|LicenseRef-Keith-Marshall AND LicenseRef-Lucent|files=mingw-w64-crt/misc/basename.c;files=mingw-w64-crt/gdtoa/*
mingw-path|mingw-w64 runtime: basename and dirname|mingw-w64-*-dev|libmingwex.a|*-basename.o *-dirname.o|LicenseRef-Keith-Marshall|files=mingw-w64-crt/misc/basename.c
mingw-sun-math|mingw-w64 runtime: maths from Sun|mingw-w64-*-dev|libmingwex.a|*-s_erf.o *-sf_erf.o *-e_fmod.o *-e_fmodf.o *-e_pow.o *-e_powf.o *-e_remainder.o *-e_remainderf.o|SunPro|files=mingw-w64-crt/math/s_erf.c
mingw-getopt|mingw-w64 runtime: getopt|mingw-w64-*-dev|libmingwex.a|*-getopt.o|BSD-2-Clause AND ISC|files=mingw-w64-crt/misc/getopt.c
mingw-strtok|mingw-w64 runtime: strtok_r|mingw-w64-*-dev|libmingwex.a|*-strtok_r.o|BSD-3-Clause|files=mingw-w64-crt/stdio/strtok_r.c
mingw-startup|mingw-w64 runtime: start-up code|mingw-w64-*-dev|libmingw32.a crt2.o crt2u.o crt1.o crt1u.o dllcrt2.o|*|LicenseRef-public-domain|files=mingw-w64-crt/crt/*
mingw-runtime|mingw-w64 runtime and import libraries|mingw-w64-*-dev|lib*.a|*|ZPL-2.1|files=*
EOF_RULES
)

# --- What the link took from outside the build -----------------------------------------------------------
# "archive(member)" at the start of a line in the first section of the map; "LOAD object" for objects
# linked whole. Relative paths are the build's own.
inputs=$(awk '
    /^Archive member included/ { in_members = 1; next }
    /^(Discarded input sections|Memory Configuration|Allocating common symbols)/ { in_members = 0 }
    in_members && /^\// { sub(/[ \t].*/, ""); print }
    /^LOAD \// && $2 ~ /\.(o|obj)$/ { print $2 }
' "$map" | sort -u)
[ -n "$inputs" ] || { echo "third-party-notices: $map lists no input from outside the build" >&2; exit 1; }

# The package of each file, in one query: dpkg -S costs about as much for one file as for twenty.
declare -A package_of=() linked=() component_rule=()
mapfile -t files < <(sed 's/(.*//' <<<"$inputs" | sort -u | xargs -d '\n' realpath -e | sort -u)
while IFS= read -r line; do
    package_of[${line#*: }]=${line%%:*}
done < <(dpkg -S "${files[@]}" 2>/dev/null || true)
for real in "${files[@]}"; do
    [ -n "${package_of[$real]:-}" ] ||
        { echo "third-party-notices: $real was linked but belongs to no installed package" >&2; exit 1; }
done

order=()
uncovered=()
while IFS= read -r input; do
    file=${input%%(*}
    member=""
    [ "$file" = "$input" ] || { member=${input#*(}; member=${member%)}; }
    real=$(realpath -e "$file")
    package=${package_of[$real]}
    base=${real##*/}
    match=""
    while IFS='|' read -r id name pkg files members licence text; do
        # shellcheck disable=SC2053
        [[ $package == $pkg ]] || continue
        hit=""
        for f in $files; do [[ $base == $f ]] && hit=1; done
        [ -n "$hit" ] || continue
        if [ -n "$member" ]; then
            hit=""
            for m in $members; do [[ $member == $m ]] && hit=1; done
            [ -n "$hit" ] || continue
        fi
        match=$id
        break
    done <<<"$rules"
    if [ -z "$match" ]; then
        uncovered+=("$input ($package)")
        continue
    fi
    if [ -z "${component_rule[$match]:-}" ]; then
        order+=("$match")
        component_rule[$match]=$package
    elif [ "${component_rule[$match]}" != "$package" ]; then
        echo "third-party-notices: $match comes from both ${component_rule[$match]} and $package" >&2
        exit 1
    fi
    linked[$match]+="$base${member:+($member)} "
done <<<"$inputs"
if [ "${#uncovered[@]}" -gt 0 ]; then
    echo "third-party-notices: linked, but no notice covers it:" >&2
    printf '  %s\n' "${uncovered[@]}" >&2
    exit 1
fi

# --- The texts -------------------------------------------------------------------------------------------
# extract COPYRIGHT SELECTOR: prints "lines A-B" on the first line, then the text.
extract() {
    local copyright=$1 selector=$2
    case $selector in
    files=*)
        awk -v pattern="${selector#files=}" '
            # Paragraphs of a machine-readable copyright file; a stanza whose licence has no text of its
            # own refers to a stand-alone "License:" paragraph.
            function flush() {
                if (n == 0) return
                if (lines[1] == "Files: " pattern) { found = 1; stanza_first = first; stanza_last = last
                    for (i = 1; i <= n; i++) stanza = stanza lines[i] "\n"
                    for (i = 1; i <= n; i++) if (lines[i] ~ /^License: /) { name = substr(lines[i], 10)
                        has_text = (i < n && lines[i + 1] ~ /^[ \t]/) } }
                if (n >= 2 && lines[1] ~ /^License: / && lines[2] ~ /^ /) {
                    text_name = substr(lines[1], 10); for (i = 1; i <= n; i++) licence[text_name] = licence[text_name] lines[i] "\n"
                    licence_lines[text_name] = first "-" last }
                n = 0 }
            /^[ \t]*$/ { flush(); next }
            { if (n == 0) first = NR; last = NR; lines[++n] = $0 }
            END { flush()
                if (!found) { print "no stanza \"Files: " pattern "\"" > "/dev/stderr"; exit 1 }
                where = stanza_first "-" stanza_last; body = stanza
                if (!has_text) { count = split(name, names, / and | or /)
                    for (j = 1; j <= count; j++) { if (!(names[j] in licence)) {
                            print "no text for licence " names[j] > "/dev/stderr"; exit 1 }
                        where = where ", " licence_lines[names[j]]; body = body "\n" licence[names[j]] } }
                printf "lines %s\n%s", where, body }
        ' "$copyright"
        ;;
    range=*)
        local span=${selector#range=}
        awk -v from="${span%%~*}" -v to="${span#*~}" '
            !on && index($0, from) == 1 { on = 1; first = NR }
            on && NR > first && index($0, to) == 1 { last = NR - 1; done = 1; exit }
            on { text = text $0 "\n" }
            END { if (!done) { print "no lines from \"" from "\" to \"" to "\"" > "/dev/stderr"; exit 1 }
                sub(/\n+$/, "\n", text); printf "lines %d-%d\n%s", first, last, text }
        ' "$copyright"
        ;;
    esac
}

{
    echo "Third-party notices"
    echo
    echo "The executable contains parts of the following components, linked statically. Each section names"
    echo "the Debian package they came from, what of it was linked (archive and member, from the link map),"
    echo "and reproduces that package's notices for it from /usr/share/doc/<package>/copyright."
} >"$notices.partial"
: >"$components.partial"
for id in "${order[@]}"; do
    while IFS='|' read -r rule_id name pkg files members licence text; do
        [ "$rule_id" = "$id" ] && break
    done <<<"$rules"
    package=${component_rule[$id]}
    version=$(dpkg-query -W -f='${Version}' "$package")
    copyright=/usr/share/doc/$package/copyright
    [ -f "$copyright" ] || { echo "third-party-notices: $package has no $copyright" >&2; exit 1; }
    bodies="" wheres=""
    IFS=';' read -ra selectors <<<"$text"
    for selector in "${selectors[@]}"; do
        piece=$(extract "$copyright" "$selector") ||
            { echo "third-party-notices: $copyright: no text for $selector" >&2; exit 1; }
        where=${piece%%$'\n'*}
        wheres+="${wheres:+; }${where#lines }"
        bodies+=$'\n'"${piece#*$'\n'}"$'\n'
    done
    archives=$(tr ' ' '\n' <<<"${linked[$id]}" | sed 's/(.*//' | grep . | sort -u | paste -sd, -)
    # One line per archive or object: "  libgcc.a: _chkstk_ms.o _ctors.o".
    by_archive=$(tr ' ' '\n' <<<"${linked[$id]}" | grep . | sort -u | awk -F'(' '
        { sub(/\)$/, "", $2); if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 }
          if ($2 != "") members[$1] = members[$1] " " $2 }
        END { for (i = 1; i <= n; i++) print "  " order[i] (members[order[i]] != "" ? ":" members[order[i]] : "") }')
    {
        echo
        echo "================================================================================"
        echo "$name"
        echo "Package: $package $version"
        echo "Licence: $licence"
        echo "Linked:"
        echo "$by_archive"
        echo "Text from: $copyright, lines $wheres"
        echo "--------------------------------------------------------------------------------"
        printf '%s' "$bodies"
    } >>"$notices.partial"
    echo "$id|$name|$package|$version|$licence|$archives" >>"$components.partial"
done
mv "$notices.partial" "$notices"
mv "$components.partial" "$components"
