#!/usr/bin/env bash
# The program from the zip, with TAVRIN_CONTROLLER unset, against the
# stand-in control registered with regsvr32 in a fresh Wine prefix, driven by
# keys as a technician drives it. The stand-in logs what it was sent. WORDS
# are added to every mode of the stand-in: "strict" makes it a control that
# asks of its container all that a control framework asks of a form.
# Usage: bash tests/shell/xvfb.sh bash tests/windows/control_test.sh ZIP BUILD_DIR [WORDS]
set -euo pipefail
zip=$(realpath "$1")
bin=$(realpath "$2")/bin
words=${3:-}
here=$(dirname "$(realpath "$0")")
source "$here/lib.sh"
standin="$bin/TrelkStandin.dll"
log="$work/standin.log"
export TRELK_STANDIN_LOG='Z:'"${log//\//\\}"

make_prefix
WINE=$wine bash "$here/../win/register_standin.sh" "$WINEPREFIX" "$standin" || fail "regsvr32 failed"
unpack_zip "$zip"
settings=$'[trace]\r\nenable = true\r\nmovements = 12\r\n'
written=$'\r\n\r\n[TRACE]\r\nENABLE = TRUE\r\nFINISHED_SUB = SKIP\r\nMOVEMENTS = 12\r\nCYCFLAGS = 5\r\n'
written+=$'\r\n[OFC]\r\nSET_TO_FALSE = FALSE\r\nTRACE = AT_LEAVING\r\nRESTORE = AT_BWD\r\n\r\n[SCAN]\r\nENABLE = FALSE\r\n'
written+=$'\r\n[GENERAL]\r\nBACKWARDSTART = FALSE\r\nIMPLICIT_BCO = FALSE\r\nQUIT_M_TRACE_SCAN = FALSE\r\n\r\n[ENDSECTION]\r\n'

# open_window MODE [VAR=VALUE...]: a fresh settings file and log, the program
# started with the stand-in in MODE, its window given the keyboard; sets $window.
open_window() {
    printf '%s' "$settings" > "$ini"
    : > "$log"
    start_program TRELK_STANDIN_MODE="$1${words:+,$words}" "${@:2}"
    window=$(wait_title 'Edit: Backward\.ini' 60) || fail "$1: the window did not open"
}
# wait_log PATTERN SECONDS
wait_log() {
    for _ in $(seq $(( $2 * 10 ))); do
        grep -q -- "$1" "$log" && return 0
        sleep 0.1
    done
    return 1
}
# close_box LINE SECONDS: the message box with LINE in its text, closed with
# OK; its text is left in $text.
close_box() {
    local box
    box=$(wait_title 'Tavrin' "$2") || fail "no message box \"$1\""
    text=$(box_text "$box")
    grep -qF -- "$1" <<< "$text" || fail "the box is not \"$1\": $text"
    press "$box" Return
    wait_box_closed "$box" || fail "OK did not close \"$1\""
}
end_program() {
    press "$window" Escape
    wait_end 10 || fail "$1: Escape did not end the program at once"
    [ "$status" -eq 0 ] || fail "$1: the program ended with status $status"
    ! grep -q 'call DisconnectClient' "$log" || fail "$1: a disconnect request was sent at exit"
    ! grep -E '^[0-9]+ (refuse |design mode|no event)' "$log" || fail "$1: the control found its container wanting"
}
ms() { sed -n "s/^\([0-9]*\) $1.*/\1/p" "$log" | head -n 1; }

# Accepted: the file in the written layout, the three calls, no box, one cycle.
open_window accept
press "$window" Return
wait_log 'call GetSetVarResult' 10 || fail "accept: no result query: $(cat "$log")"
sleep 0.5
cmp -s "$ini" <(printf "%s" "$written") || fail "accept: the file is not in the written layout: $(od -c "$ini" | head -5)"
grep -qF 'call ConnectClient("Load_Tavrin", "", 0)' "$log" || fail "accept: no ConnectClient(\"Load_Tavrin\", \"\", 0)"
job=$(sed -n 's/.*call BeginSetVar("\$LOAD_TAVRIN", "TRUE") -> \([0-9]*\).*/\1/p' "$log")
echo "$job" > /dev/null
[ -n "$job" ] || fail "accept: no BeginSetVar(\"\$LOAD_TAVRIN\", \"TRUE\")"
grep -qF "call GetSetVarResult($job) -> true" "$log" || fail "accept: the result query did not name job $job"
! xdotool search --onlyvisible --name '^Tavrin$' > /dev/null 2>&1 || fail "accept: a message box appeared"
round_trip=$(( $(ms 'call GetSetVarResult') - $(ms 'call BeginSetVar') ))
echo "ok: accepted: start call to result query ${round_trip} ms"
[ "$round_trip" -le 150 ] || fail "accept: the answer took more than one polling cycle (${round_trip} ms)"
end_program accept
echo "ok: Escape ended the program at once with no disconnect request"

# A simulated controller cannot be chosen on Windows: the registered control
# answers all the same.
open_window accept TAVRIN_CONTROLLER=refuse
press "$window" Return
wait_log 'call GetSetVarResult(.*) -> true' 10 || fail "TAVRIN_CONTROLLER chose another controller: $(cat "$work/stderr")"
! xdotool search --onlyvisible --name '^Tavrin$' > /dev/null 2>&1 || fail "TAVRIN_CONTROLLER: a message box appeared"
end_program simulator
echo "ok: TAVRIN_CONTROLLER=refuse left the registered control in use"

# Refused: the control's error text on the second line; the window stays.
open_window refuse
press "$window" Return
close_box $'SetVar: $LOAD_TAVRIN=TRUE   ....' 15
grep -A1 -F 'SetVar: $LOAD_TAVRIN=TRUE   ....' <<< "$text" | grep -qx 'Variable is write protected' ||
    fail "refuse: the control's error text is not the second line: $text"
still_open refuse
end_program refuse
echo "ok: refused: the SetVar box with the control's error text, the window stayed"

# Never answers: "TIMEOUT !!!" after about 10.1 s, then the SetVar box.
open_window silent
pressed=$(date +%s%N)
press "$window" Return
close_box 'TIMEOUT !!!' 30
waited=$(( ($(date +%s%N) - pressed) / 1000000 ))
close_box $'SetVar: $LOAD_TAVRIN=TRUE   ....' 10
still_open silent
end_program silent
echo "ok: never answered: TIMEOUT !!! after ${waited} ms, then the SetVar box; the window stayed"
[ "$waited" -ge 10000 ] || fail "silent: the time-out came after ${waited} ms"

# An unrelated event without class information must not end the wait.
open_window noclassinfo,progress
press "$window" Return
wait_log 'call GetSetVarResult' 10 || fail "progress: no result query"
grep -q 'event Progress' "$log" || fail "progress: the stand-in fired no Progress event"
! xdotool search --onlyvisible --name '^Tavrin$' > /dev/null 2>&1 || fail "progress: a message box appeared"
end_program progress
echo "ok: an unrelated event did not end the wait"

# Held open by another program, without delete sharing: saved all the same.
printf '%s' "$settings" > "$ini"
"$wine" "$bin/hold_file.exe" 'C:\QEL\Roboter\Init\Backward.ini' 60 > "$work/holder" 2>&1 &
holder=$!
for _ in $(seq 100); do grep -q holding "$work/holder" && break; sleep 0.1; done
grep -q holding "$work/holder" || fail "the holder did not open the file: $(cat "$work/holder")"
open_window accept
press "$window" Return
wait_log 'call GetSetVarResult' 15 || fail "held: no reload request: $(cat "$work/stderr")"
sleep 0.5
kill "$holder" 2>/dev/null || true
cmp -s "$ini" <(printf "%s" "$written") || fail "held: the file was not written"
! xdotool search --onlyvisible --name '^Tavrin$' > /dev/null 2>&1 || fail "held: a message box appeared"
end_program held
echo "ok: a file held open by another program was saved and the reload requested"

# No settings file: "Cant open", nothing created, no reload request.
rm -f "$ini"
: > "$log"
start_program TRELK_STANDIN_MODE="accept${words:+,$words}"
close_box 'Cant open C:\QEL\Roboter\Init\Backward.ini' 60
window=$(wait_title 'Edit: Backward\.ini' 30) || fail "missing: the window did not open"
press "$window" Return
close_box 'Cant save C:\QEL\Roboter\Init\Backward.ini' 15
[ ! -e "$ini" ] || fail "missing: the file was created"
! grep -q 'call BeginSetVar' "$log" || fail "missing: a reload was requested"
end_program missing
echo "ok: a missing file gave \"Cant open\", nothing was created and no reload was requested"

# The control not registered: said in words.
WINE=$wine bash "$here/../win/register_standin.sh" "$WINEPREFIX" "$standin" --unregister || fail "unregistering failed"
open_window accept
press "$window" Return
close_box $'SetVar: $LOAD_TAVRIN=TRUE   ....' 15
grep -q 'TrelkLib.Trelk is not registered on this PC' <<< "$text" || fail "unregistered: not said in words: $text"
end_program unregistered
echo "ok: an unregistered control is reported in words"
echo "PASS: the program against the registered stand-in control${words:+ ($words)}"
