# Sourced by every script that starts Wine, once tools/install-deps.sh has run: the one place that
# decides which loader `wine` is, which build the demo, the test runner and the benchmark use, and the
# environment every Wine process of this project shares.
#
# Wine's 32-bit loader is a 32-bit Linux program, and some kernels refuse to run those at all ("Exec
# format error"). There only 64-bit Windows programs can start, `wine` must be the 64-bit loader, and
# the windows64 build stands in for the 32-bit one. Sets ORVET_PRESET to windows or windows64.
wine_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if wine_runs_32bit; then
    ORVET_PRESET=windows
elif [ -x /usr/lib/wine/wine64 ]; then
    ORVET_PRESET=windows64
    case ":$PATH:" in
    *"/wine64-only:"*) ;;
    *) PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64-only:$PATH" ;;
    esac
    export PATH
else
    # Deciding now would pick the 64-bit build on a machine that may well run the 32-bit one.
    echo "${0##*/}: Wine is not installed; run tools/install-deps.sh first" >&2
    return 1
fi
export ORVET_PRESET
# No prefix asks to download anything, and Wine's own diagnostics stay out of the output.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH
