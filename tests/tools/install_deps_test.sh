#!/usr/bin/env bash
# The set-up script's recovery from an archive mid-sync, offline: apt-get, dpkg and dpkg-query are
# stubs on PATH that fail the update of one index and refuse the first install as the archive did.
set -euo pipefail
script=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tools/install-deps.sh
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/bin"
stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
stub id 'echo 0'
stub sleep ':'
stub dpkg '[ "$1" != --print-foreign-architectures ] || echo i386'
# Answers from the packages the stub apt-get "installed", or all of them where the case says so.
stub dpkg-query 'p=${!#}; [ -e "$STATE/all" ] || grep -qx "$p" "$STATE/installed" 2>/dev/null || exit 1
case $2 in *Version*) echo 2.5-4 ;; *) echo "install ok installed" ;; esac'
stub apt-get 'echo "$*" >>"$STATE/calls"
case $1 in
update)
    echo "Err:6 http://deb.example/debian-security bookworm-security/main i386 Packages"
    echo "  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    exit 100 ;;
install)
    if [[ " $* " != *" -t "* || -e "$STATE/base-refused" ]]; then
        echo "E: Unable to correct problems, you have held broken packages." >&2
        exit 100
    fi
    for a in "$@"; do [[ $a == -* || $a == install || $a == '"$codename"' ]] || echo "${a%%=*}" >>"$STATE/installed"; done ;;
esac'

failures=0
check() { if ! eval "$2"; then echo "FAIL [$case]: $1" >&2; failures=$((failures + 1)); fi; }

# Each case: the archive the stubs play, then what the script must have done.
for case in mid-sync both-refused all-installed; do
    export STATE="$work/$case"
    mkdir "$STATE"
    case $case in both-refused) touch "$STATE/base-refused" ;; all-installed) touch "$STATE/all" ;; esac
    rc=0
    PATH="$work/bin:$PATH" "$script" >"$STATE/out" 2>&1 || rc=$?
    case $case in
    mid-sync)
        check "exit 0" '[ "$rc" -eq 0 ]'
        check "the failed index named" 'grep -q "could not download http://deb.example/debian-security bookworm-security/main i386 Packages" "$STATE/out"'
        check "three updates" '[ "$(grep -c ^update "$STATE/calls")" -eq 3 ]'
        check "the second install at the base release" 'grep -q "^install .* -t $codename " "$STATE/calls"'
        check "osslsigncode pinned in both installs" '[ "$(grep -c "^install .*osslsigncode=2.5-4" "$STATE/calls")" -eq 2 ]'
        check "everything installed" 'grep -qx wine32:i386 "$STATE/installed" && grep -qx osslsigncode "$STATE/installed" && grep -qx cmake "$STATE/installed"'
        ;;
    both-refused)
        check "non-zero exit" '[ "$rc" -ne 0 ]'
        check "says which index and to try later" 'grep -q "could not be installed (could not download .*bookworm-security/main i386 Packages); run this command again later" "$STATE/out"'
        ;;
    all-installed)
        check "exit 0" '[ "$rc" -eq 0 ]'
        check "no apt-get at all" '[ ! -e "$STATE/calls" ]'
        ;;
    esac
    [ "$failures" -eq 0 ] || sed 's/^/    /' "$STATE/out" >&2
done
[ "$failures" -eq 0 ] && echo "install-deps recovery: 3 cases passed"
