# Shared by the Wine tests: a private Wine prefix under the build folder, paths as Windows
# writes them, and the end of every Wine process the test started.
# shellcheck shell=bash

export WINEDEBUG=-all
# No Mono or Gecko installer dialog while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

step() {
    echo "-- $*"
}

fail() {
    echo "FAILED: $1" >&2
    if [ -n "${2:-}" ] && [ -f "$2" ]; then
        sed -n '1,60p' "$2" >&2
    fi
    exit 1
}

# Makes (once) and starts the prefix WORK/prefix; its wineserver is ended when the test ends.
wine_start() {
    mkdir -p "$1"
    # Wine takes only a full path for its prefix.
    WINEPREFIX="$(realpath "$1")/prefix"
    export WINEPREFIX
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || fail "wineboot could not make the prefix $WINEPREFIX"
    fi
    wine_fonts
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
}

# Windows' dialog font ("MS Shell Dlg", which Wine takes as Tahoma) and the other faces a
# Windows system has are not on this machine, and Wine names only the Linux fonts: a program
# asking for them would get the first font in the list (here a mathematics font, in which edit
# boxes draw no text at all). Wine is told to give DejaVu Sans under those names, once a prefix.
wine_fonts() {
    [ ! -f "$WINEPREFIX/.zephrane-fonts" ] || return 0
    local face reg="$WINEPREFIX/zephrane-fonts.reg"
    {
        printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "MS Sans Serif" \
            "Microsoft Sans Serif" "Arial" "Segoe UI"; do
            printf '"%s"="DejaVu Sans"\r\n' "$face"
        done
    } >"$reg"
    wine reg import "$(wine_path "$reg")" >/dev/null 2>&1 ||
        fail "Wine did not take the font replacements of $reg"
    wineserver -w
    touch "$WINEPREFIX/.zephrane-fonts"
}

wine_run() {
    wine "$@"
}

# Runs a Windows program with windows on a virtual display of its own. Wine's desktop takes its
# display from the program that starts a session: a session that the terminal programs began
# without one would draw no window of this program anywhere, so it is ended first, and this
# program's session ends while its display is still there.
wine_on_display() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    xvfb-run -a -s "-screen 0 1280x1024x24" \
        bash -c 'status=0; wine "$@" || status=$?; wineserver -w; exit "$status"' wine "$@"
}

# A Linux path as the Windows programs under Wine see it (drive Z: is the root).
wine_path() {
    local path
    path="$(realpath -m "$1")"
    echo "Z:${path//\//\\}"
}

# Output without what differs by nature: CR of line ends, times, and log paths.
normalised() {
    tr -d '\r' | sed -E -e 's#[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M#TIME#g' \
        -e 's#[0-9]{8}_[0-9]{2}_[0-9]{2}_[0-9]{2}(_[0-9]+)?#STAMP#g' \
        -e 's#\{[0-9A-Fa-f-]{36}\}#{GUID}#g' -e 's#(Z:)?[^ :]*[/\\]logs[/\\]#LOGS/#g' -e 's#[0-9]+(\.[0-9]+)? (seconds|ms)#N \2#g'
}
