# Sourced by the test drivers that map a scratch folder as a Wine drive.
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
