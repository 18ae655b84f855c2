#!/usr/bin/env bash
# The zip as a technician gets it, unpacked into a fresh Wine prefix and run
# from there, with nothing from the build on the path: the window opens on
# the prefix's C:\QEL\Roboter\Init\Backward.ini, Escape ends it with status 0,
# and a missing file gives the "Cant open" box. Proves nothing is missing.
# Usage: bash tests/shell/xvfb.sh bash tests/windows/zip_test.sh ZIP
set -euo pipefail
zip=$(realpath "$1")
source "$(dirname "$0")/lib.sh"

make_prefix
unpack_zip "$zip"
printf '[TRACE]\r\nENABLE = TRUE\r\n' > "$ini"

start_program
window=$(wait_title 'Edit: Backward\.ini' 60) || fail "the window did not open"
press "$window" Escape
wait_end 10 || fail "Escape did not end the program"
[ "$status" -eq 0 ] || fail "the program ended with status $status"
cmp -s "$ini" <(printf '[TRACE]\r\nENABLE = TRUE\r\n') || fail "the settings file changed without Apply"
echo "ok: the window opened from the zip and Escape ended it with status 0"

# At 150 % (144 dpi) the whole dialog is scaled, as on a PC so set.
# size_at DPI: sets $size to the window's size at DPI.
size_at() {
    set_dpi "$1"
    start_program
    window=$(wait_title 'Edit: Backward\.ini' 60) || fail "the window did not open at $1 dpi"
    # Wine may still move or scale the window once it is shown: read it once it holds still.
    local last=
    for _ in $(seq 50); do
        size=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
        [ -n "$size" ] && [ "$size" = "$last" ] && break
        last=$size
        sleep 0.1
    done
    if [ -n "${TAVRIN_SCREENSHOTS:-}" ] && command -v import > /dev/null; then
        import -window root "$TAVRIN_SCREENSHOTS/tavrin-${TAVRIN_WINE_VERSION:-wine}-$1dpi.png"
    fi
    press "$window" Escape
    wait_end 10 || fail "Escape did not end the program at $1 dpi"
}
size_at 96
normal=$size
size_at 144
scaled=$size
awk -v n="$normal" -v s="$scaled" 'BEGIN { split(n, a, "x"); split(s, b, "x")
    exit !(b[1] >= 1.4 * a[1] && b[2] >= 1.4 * a[2]) }' ||
    fail "the window is $scaled at 144 dpi and $normal at 96 dpi: not scaled"
set_dpi 96
echo "ok: the window is $normal at 96 dpi and $scaled at 144 dpi"

rm "$ini"
start_program
box=$(wait_title 'Tavrin' 60) || fail "no \"Cant open\" box for a missing file"
text=$(box_text "$box")
grep -qxF 'Cant open C:\QEL\Roboter\Init\Backward.ini' <<< "$text" || fail "the box says: $text"
press "$box" Return
window=$(wait_title 'Edit: Backward\.ini' 30) || fail "the window did not open after the box"
press "$window" Escape
wait_end 10 || fail "Escape did not end the program"
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ ! -e "$ini" ] || fail "the program created the settings file"
echo "ok: a missing settings file gave the box, and nothing was created"
echo "PASS: the program runs from the zip"
