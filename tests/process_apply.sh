#!/usr/bin/env bash
# The built program on a temporary drive C:, under a virtual display: Enter
# writes the settings file and asks the simulated controller to reload it,
# Escape ends the program. Run it as: xvfb-run -a bash process_apply.sh TAVRIN
set -euo pipefail
tavrin=$1
work=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- program's standard error:"; cat "$work/stderr"; exit 1; }

ini="$work/QEL/Roboter/Init/Backward.ini"
mkdir -p "$(dirname "$ini")"
printf '; site note\r\n[trace]\r\nenable = true\r\nmovements = 12\r\n' > "$ini"

unset QT_QPA_PLATFORM TAVRIN_CONTROLLER
TAVRIN_DRIVE_C="$work" "$tavrin" 2> "$work/stderr" &
pid=$!

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Edit: Backward\.ini$' | head -n 1) ||
    fail "no window"
xdotool windowfocus --sync "$window"
sleep 0.3
xdotool key Return

for _ in $(seq 100); do
    grep -q 'SetVar \$LOAD_TAVRIN=TRUE -> finished' "$work/stderr" && break
    sleep 0.1
done
grep -q '^controller: SetVar \$LOAD_TAVRIN=TRUE -> finished (job 1)$' "$work/stderr" ||
    fail "no reload request reached the controller"

printf '; SITE NOTE\r\n\r\n\r\n[TRACE]\r\nENABLE = TRUE\r\nFINISHED_SUB = SKIP\r\nMOVEMENTS = 12\r\nCYCFLAGS = 5\r\n\r\n[OFC]\r\nSET_TO_FALSE = FALSE\r\nTRACE = AT_LEAVING\r\nRESTORE = AT_BWD\r\n\r\n[SCAN]\r\nENABLE = FALSE\r\n\r\n[GENERAL]\r\nBACKWARDSTART = FALSE\r\nIMPLICIT_BCO = FALSE\r\nQUIT_M_TRACE_SCAN = FALSE\r\n\r\n[ENDSECTION]\r\n' > "$work/expected"
cmp "$ini" "$work/expected" || fail "the settings file is not the expected one"

xdotool key Escape
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "Escape did not end the program"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status"
grep -q DisconnectClient "$work/stderr" && fail "a disconnect request was sent at exit"
echo "PASS: Enter saved and reloaded, Escape ended the program"
