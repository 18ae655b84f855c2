#!/usr/bin/env bash
# Real message boxes, closed as a technician closes them: no box, in any
# order or nesting, may end the program; only closing the editor does.
# Usage: bash tests/shell/xvfb.sh bash tests/process/message_boxes.sh TAVRIN
set -euo pipefail
source "$(dirname "$0")/lib.sh"
binary=$1
export QT_LOGGING_RULES='tavrin.message.info=true'

# close_box TEXT SECONDS: waits for the box showing TEXT and presses OK.
# Each text logged is counted once, so equal boxes in a row are told apart.
declare -A closed=()
close_box() {
    local box= tries=$(( $2 * 10 )) want=$(( ${closed[$1]:-0} + 1 ))
    for _ in $(seq "$tries"); do
        if [ "$(grep -c -F -- "tavrin.message: $1" "$work/stderr")" -ge "$want" ]; then
            box=$(xdotool search --onlyvisible --name '^Tavrin$' 2>/dev/null | head -n 1) || true
            [ -n "$box" ] && break
        fi
        kill -0 "$pid" 2>/dev/null || fail "the program ended while waiting for \"$1\""
        sleep 0.1
    done
    [ -n "$box" ] || fail "no message box \"$1\" within $2 s"
    closed[$1]=$want
    xdotool windowfocus --sync "$box" key Return
    wait_box_closed "$box" || fail "OK did not close the box \"$1\""
}

printf '[trace]\r\nenable = true\r\n' > "$ini"

# A time-out: "TIMEOUT !!!", then the writer's box.
start_program "$binary" TAVRIN_CONTROLLER=silent
wait_window
xdotool key Return
close_box 'TIMEOUT !!!' 15
close_box 'SetVar: $LOAD_TAVRIN=TRUE' 5
still_open "the time-out's boxes"
end_with_escape

# A second Enter during the wait: the inner Apply's two boxes, then the outer's.
closed=()
start_program "$binary" TAVRIN_CONTROLLER=silent
wait_window
xdotool key Return
wait_line 'SetVar \$LOAD_TAVRIN=TRUE -> no answer (job 1)' 10 || fail "the first Apply did not start its wait"
xdotool key Return
close_box 'TIMEOUT !!!' 15
close_box 'SetVar: $LOAD_TAVRIN=TRUE' 5
close_box 'TIMEOUT !!!' 15
close_box 'SetVar: $LOAD_TAVRIN=TRUE' 5
still_open "the nested Apply's boxes"
end_with_escape

# Another program's window is active when the boxes open.
other_drive="$work/other"
mkdir -p "$other_drive/QEL/Roboter/Init"
cp "$ini" "$other_drive/QEL/Roboter/Init/"
TAVRIN_DRIVE_C="$other_drive" QT_LOGGING_RULES= "$binary" 2> /dev/null &
other=$!
trap 'kill "$other" 2>/dev/null || true; stop_program; rm -rf "$work"' EXIT
other_window=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$other" --name '^Edit: Backward\.ini$' |
    head -n 1) || fail "the other program's window did not open"
closed=()
start_program "$binary" TAVRIN_CONTROLLER=silent
wait_window
first=$window
xdotool key Return
wait_line 'SetVar \$LOAD_TAVRIN=TRUE -> no answer (job 1)' 10 || fail "Apply did not start its wait"
xdotool windowfocus --sync "$other_window"
close_box 'TIMEOUT !!!' 15
close_box 'SetVar: $LOAD_TAVRIN=TRUE' 5
still_open "boxes opened while another window was active"
xdotool windowfocus --sync "$first"
end_with_escape
kill "$other"
echo "PASS: no message box ended the program"
