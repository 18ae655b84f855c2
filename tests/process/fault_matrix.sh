#!/usr/bin/env bash
# Each way the controller link can fail, at the process level: Enter saves,
# the messages are the expected ones, nothing hangs past the wait's time-out,
# nothing crashes, and the settings file is written.
# Usage: bash tests/shell/xvfb.sh bash tests/process/fault_matrix.sh TAVRIN_FAULTS
set -euo pipefail
source "$(dirname "$0")/lib.sh"
binary=$1

refused='SetVar: $LOAD_TAVRIN=TRUE   ....\r\n'
timeout='TIMEOUT !!!'
# name | environment | expected messages, separated by " ; "
rows=(
    "accepted|TAVRIN_CONTROLLER=accept|"
    "no answer|TAVRIN_CONTROLLER=silent|$timeout ; $refused"
    "refusal|TAVRIN_CONTROLLER=refuse|${refused}controller refused the job"
    "status 2|TAVRIN_FAULT=status-2|$timeout ; $refused"
    "foreign job number|TAVRIN_FAULT=foreign-job|"
    "two events|TAVRIN_FAULT=two-events|"
    "event inside the start call|TAVRIN_FAULT=early-event|$timeout ; $refused"
    "no component|TAVRIN_FAULT=no-component|${refused}TrelkLib.Trelk is not registered"
    "a call raises|TAVRIN_FAULT=raise|${refused}call failed: the controller is not reachable"
    "the error query raises|TAVRIN_FAULT=raise-in-event|${refused}GetJobError failed"
    "unknown controller choice|TAVRIN_CONTROLLER=fast|${refused}TAVRIN_CONTROLLER=\"fast\" is not one of: accept, refuse, silent"
)

failures=0
printf '| case | seconds to the end of Apply | messages | file written |\n|---|---|---|---|\n'
for row in "${rows[@]}"; do
    IFS='|' read -r name environment expected <<< "$row"
    printf '; fault case\r\n[trace]\r\nenable = true\r\nmovements = 42\r\n' > "$ini"
    start_program "$binary" $environment
    wait_window
    started=$(date +%s%N)
    xdotool key Return
    outcome=ok
    if ! wait_line '^status: restored$' 15; then
        outcome="Apply did not end within 15 s"
    fi
    seconds=$(awk -v n=$(( $(date +%s%N) - started )) 'BEGIN { printf "%.1f", n / 1e9 }')
    sleep 0.3
    messages=$(sed -n 's/^message: //p' "$work/stderr" | paste -sd ';' - | sed 's/;/ ; /g')
    [ "$messages" = "$expected" ] || outcome="messages: [$messages], expected [$expected]"
    comments=$'; FAULT CASE\r\n' written_file T_ENABLE=TRUE MOVEMENTS=42 > "$work/expected"
    written=yes
    cmp -s "$ini" "$work/expected" || { written=no; outcome="the file was not written"; }
    kill -0 "$pid" 2>/dev/null || outcome="the program ended"
    [ "$outcome" = ok ] && { end_with_escape || outcome="Escape did not end it"; }
    stop_program
    printf '| %s | %s | %s | %s |\n' "$name" "$seconds" "${messages:-none}" "$written"
    if [ "$outcome" != ok ]; then
        echo "FAIL: $name: $outcome"
        cat "$work/stderr"
        failures=$((failures + 1))
    fi
done
echo "$(( ${#rows[@]} - failures )) passed, $failures failed"
[ "$failures" -eq 0 ]
