#!/usr/bin/env bash
# Measures the built program with the simulated controller accepting: time
# from start to the window shown, Apply's round trip, and peak memory.
# Needs Xvfb and xdotool (scripts/setup.sh installs them). Not a test.
set -euo pipefail
cd "$(dirname "$0")/.."
tavrin=${1:-build/tavrin}
rounds=${ROUNDS:-20}

if [ -z "${INSIDE_XVFB:-}" ]; then
    INSIDE_XVFB=1 exec bash tests/shell/xvfb.sh -screen 800x600x24 bash "$0" "$@"
fi

work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/QEL/Roboter/Init"
cp demo/Backward.ini "$work/QEL/Roboter/Init/Backward.ini"
now() { date +%s%N; }

start=$(now)
TAVRIN_DRIVE_C="$work" TAVRIN_CONTROLLER=accept "$tavrin" 2> "$work/stderr" &
pid=$!
window=
for _ in $(seq 2000); do
    window=$(xdotool search --onlyvisible --name '^Edit: Backward\.ini$' 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    sleep 0.01
done
shown=$(now)
xdotool windowfocus --sync "$window"
sleep 0.5

total=0
best=
for i in $(seq "$rounds"); do
    sent=$(now)
    xdotool key Return
    until [ "$(grep -c 'SetVar \$LOAD_TAVRIN=TRUE -> finished' "$work/stderr")" -ge "$i" ]; do sleep 0.002; done
    took=$(( ($(now) - sent) / 1000000 ))
    total=$((total + took))
    if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
    sleep 0.2 # let the wait's last cycle and the label restore finish
done
peak=$(awk '/VmHWM/ {print $2, $3}' "/proc/$pid/status")
xdotool key Escape
wait "$pid" || true
pid=

echo "start to window shown: $(( (shown - start) / 1000000 )) ms"
echo "Apply round trip (key to controller's answer), $rounds rounds: mean $((total / rounds)) ms, best $best ms"
echo "peak memory (VmHWM): $peak"
