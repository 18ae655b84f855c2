#!/usr/bin/env bash
# The built program on a temporary drive C:: Enter writes the settings file
# and asks the simulated controller to reload it; Escape ends the program.
# Usage: bash tests/shell/xvfb.sh bash tests/process/apply.sh TAVRIN
set -euo pipefail
source "$(dirname "$0")/lib.sh"

printf '; site note\r\n[trace]\r\nenable = true\r\nmovements = 12\r\n' > "$ini"
start_program "$1"
wait_window
# Without a desktop dots-per-inch value, both Qt builds draw at 96 dpi,
# whatever the screen's physical size says.
geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/^ *Geometry: //p')
[ "$geometry" = 393x340 ] || fail "the window is $geometry, not 393x340"
xdotool key Return
wait_line 'SetVar \$LOAD_TAVRIN=TRUE -> finished' 10 || fail "no reload request reached the controller"
grep -qx 'controller: SetVar \$LOAD_TAVRIN=TRUE -> finished (job 1)' "$work/stderr" ||
    fail "the controller's line is not the expected one"

comments=$'; SITE NOTE\r\n' written_file T_ENABLE=TRUE MOVEMENTS=12 > "$work/expected"
cmp "$ini" "$work/expected" || fail "the settings file is not the expected one"

end_with_escape
grep -q DisconnectClient "$work/stderr" && fail "a disconnect request was sent at exit"
echo "PASS: Enter saved and asked for the reload, Escape ended the program"
