# Helpers for driving the built program on a (virtual) display with xdotool.
# Each script gets a temporary drive C: in $work and the settings file $ini.

work=$(mktemp -d)
ini="$work/QEL/Roboter/Init/Backward.ini"
mkdir -p "$(dirname "$ini")"
pid=
unset QT_QPA_PLATFORM TAVRIN_CONTROLLER TAVRIN_FAULT

source "$(dirname "${BASH_SOURCE[0]}")/../shell/program.sh"
trap 'stop_program; rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    echo "--- the program's standard error:"
    cat "$work/stderr" 2>/dev/null
    exit 1
}

# start_program BINARY [VAR=VALUE ...]
start_program() {
    local binary=$1
    shift
    : > "$work/stderr"
    env TAVRIN_DRIVE_C="$work" "$@" "$binary" 2>> "$work/stderr" &
    pid=$!
}

# Waits for the editor window (a minute: a sanitizer build on a busy machine
# takes seconds to load a large file) and gives it the keyboard focus. The server
# tells the program of its focus before any key pressed after it, so the keys
# need no pause.
wait_window() {
    window=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$pid" --name '^Edit: Backward\.ini$' | head -n 1) ||
        fail "no window"
    xdotool windowfocus --sync "$window"
}

# wait_line PATTERN SECONDS: true once standard error has a line matching.
wait_line() {
    local tries=$(( $2 * 20 ))
    for _ in $(seq "$tries"); do
        grep -q -- "$1" "$work/stderr" && return 0
        kill -0 "$pid" 2>/dev/null || fail "the program ended by itself"
        sleep 0.05
    done
    return 1
}

# Presses Escape and checks that the program ends at once, with status 0.
end_with_escape() {
    xdotool key Escape
    wait_end 5 || fail "Escape did not end the program"
    [ "$status" -eq 0 ] || fail "the program ended with status $status"
}

# The file as the program writes it from the fields given as KEY=VALUE
# (trace ENABLE is T_ENABLE, scan ENABLE is S_ENABLE), on top of the
# initial values, with the comment block in $comments.
written_file() {
    local T_ENABLE=FALSE FINISHED_SUB=SKIP MOVEMENTS=30 CYCFLAGS=5 SET_TO_FALSE=FALSE TRACE=AT_LEAVING
    local RESTORE=AT_BWD S_ENABLE=FALSE BACKWARDSTART=FALSE IMPLICIT_BCO=FALSE QUIT_M_TRACE_SCAN=FALSE
    local assignment
    for assignment in "$@"; do local "$assignment"; done
    printf '%s\r\n\r\n[TRACE]\r\nENABLE = %s\r\nFINISHED_SUB = %s\r\nMOVEMENTS = %s\r\nCYCFLAGS = %s\r\n' \
        "${comments:-}" "$T_ENABLE" "$FINISHED_SUB" "$MOVEMENTS" "$CYCFLAGS"
    printf '\r\n[OFC]\r\nSET_TO_FALSE = %s\r\nTRACE = %s\r\nRESTORE = %s\r\n\r\n[SCAN]\r\nENABLE = %s\r\n' \
        "$SET_TO_FALSE" "$TRACE" "$RESTORE" "$S_ENABLE"
    printf '\r\n[GENERAL]\r\nBACKWARDSTART = %s\r\nIMPLICIT_BCO = %s\r\nQUIT_M_TRACE_SCAN = %s\r\n\r\n[ENDSECTION]\r\n' \
        "$BACKWARDSTART" "$IMPLICIT_BCO" "$QUIT_M_TRACE_SCAN"
}
