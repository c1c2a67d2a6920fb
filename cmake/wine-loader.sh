# Sourced by every script that starts Wine. Wine's 32-bit loader is a 32-bit Linux program, and some
# kernels refuse to run those at all ("Exec format error"). There only 64-bit Windows programs can
# start, and `wine` must be the 64-bit loader: the windows64 build serves such machines.
wine_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if ! wine_runs_32bit && [ -x /usr/lib/wine/wine64 ]; then
    PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64-only:$PATH"
    export PATH
fi
