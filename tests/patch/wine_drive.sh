# Sourced by the test drivers, which run a test program under Wine with what it can't make from inside.
# start_driver WINE_RUN PREFIX TEST_PROGRAM sets $wine_run, $prefix and $program and makes the prefix,
# which must exist before a drive is mapped into it: its creation starts from scratch.
start_driver() {
    wine_run=$1
    prefix=$2
    program=$3
    "$(dirname "$wine_run")/wine-prefix.sh" "$prefix"
}

# every_case_ran STATUS OUTPUT WHAT [PASSED]: a skipped case would pass silently, so every case of WHAT
# must have run (GoogleTest's line "[  PASSED  ] PASSED tests", any number by default) and none skipped.
# Returns the status to exit with, saying why where it is not STATUS.
every_case_ran() {
    local status=$1
    if [ "$status" -eq 0 ] && ! grep -q "^\[  PASSED  \] ${4:-[1-9]}" <<<"$2"; then
        echo "not every $3 case ran" >&2
        status=1
    fi
    if grep -q '^\[  SKIPPED \]' <<<"$2"; then
        echo "a $3 case was skipped" >&2
        status=1
    fi
    return "$status"
}

# map_wine_drive PREFIX TARGET claims the first free letter from P to Y for TARGET and sets $link (the
# link in the prefix, for the cleanup to remove) and $drive ("P:").
map_wine_drive() {
    local letter
    for letter in p q r s t u v w x y; do
        # ln -sn fails when another run took the letter first; plain ln -s would put the link inside the
        # folder that a taken letter names.
        if ln -sn "$2" "$1/dosdevices/$letter:" 2>/dev/null; then
            link="$1/dosdevices/$letter:"
            drive="${letter^^}:"
            return 0
        fi
    done
    echo "no free drive letter in $1/dosdevices" >&2
    return 1
}
