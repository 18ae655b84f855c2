# Helpers for running the Windows program under Wine on a (virtual) display,
# each in a fresh prefix of its own under $work. The caller sets $zip first;
# its name says the bitness, and so the Wine loader.

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset QT_PLUGIN_PATH QT_QPA_PLATFORM WINEPATH TAVRIN_CONTROLLER TAVRIN_DRIVE_C
case $zip in
    *-win64.zip) wine=/usr/lib/wine/wine64 ;;
    *) wine=/usr/lib/wine/wine ;;
esac
wineserver=/usr/lib/wine/wineserver
drive_c="$WINEPREFIX/drive_c"
ini="$drive_c/QEL/Roboter/Init/Backward.ini"
pid=

source "$(dirname "${BASH_SOURCE[0]}")/../shell/program.sh"
end_wine() {
    stop_program
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    rm -rf "$work"
}
trap end_wine EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

# A fresh prefix with the folder of the settings file, reporting the Windows
# version in $TAVRIN_WINE_VERSION (win7, win10, ...; Wine's default if unset),
# since Qt takes some paths by the running Windows. The virtual display has no
# window manager: Wine's windows must not wait for one.
make_prefix() {
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f > /dev/null 2>&1 ||
        fail "could not make the Wine prefix"
    if [ -n "${TAVRIN_WINE_VERSION:-}" ]; then
        "$wine" winecfg /v "$TAVRIN_WINE_VERSION" > /dev/null 2>&1 ||
            fail "could not make the prefix report $TAVRIN_WINE_VERSION"
    fi
    mkdir -p "$(dirname "$ini")"
}

# set_dpi DPI: the display's dots per inch as Windows' scaling setting gives
# them (96 is 100 %, 144 is 150 %), for the programs started after it.
set_dpi() {
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f > /dev/null 2>&1 ||
        fail "could not set the prefix's dots per inch"
}

# unpack_zip ZIP: unpacks it into C:\Tavrin; sets $exe to the program there.
unpack_zip() {
    mkdir -p "$drive_c/Tavrin"
    (cd "$drive_c/Tavrin" && cmake -E tar xf "$1") || fail "cannot unpack $1"
    exe=$(ls "$drive_c"/Tavrin/*/tavrin.exe) || fail "no tavrin.exe in the zip"
}

# start_program [VAR=VALUE ...]: runs $exe under Wine.
start_program() {
    : > "$work/stderr"
    env "$@" "$wine" "$exe" 2>> "$work/stderr" &
    pid=$!
}

# wait_title TITLE SECONDS: prints the id of the visible window so titled.
wait_title() {
    local id=
    for _ in $(seq $(( $2 * 10 ))); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$pid" 2>/dev/null || fail "the program ended while waiting for \"$1\""
        sleep 0.1
    done
    return 1
}

# press WINDOW KEY: gives the window the keyboard and presses the key.
press() {
    xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1"
    sleep 0.3
    xdotool key "$2"
}

# box_text BOX: the message box's text as Ctrl+C copies it, the way a
# technician copies a Windows message (title, text and buttons, between
# dashed lines).
box_text() {
    local before text
    before=$(xclip -o -selection clipboard 2>/dev/null) || true
    press "$1" ctrl+c
    # Until the copy arrives; the same text as before is the same box's text.
    for _ in $(seq 50); do
        text=$(xclip -o -selection clipboard 2>/dev/null) || true
        [ -n "$text" ] && [ "$text" != "$before" ] && break
        sleep 0.1
    done
    tr -d '\r' <<< "$text"
}
