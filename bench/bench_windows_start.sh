#!/usr/bin/env bash
# Times the Windows program from start to its window under Wine, warm,
# against a bare Qt window built with the same kit, in one run, alternating.
# Not a test. Usage: bash bench/bench_windows_start.sh [ROUNDS]
# (after scripts/windows.sh; takes the programs from dist/ and build-windows*/bin:
# 32-bit where this machine runs 32-bit Wine, else 64-bit).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10}
if [ -z "${INSIDE_XVFB:-}" ]; then
    INSIDE_XVFB=1 exec bash tests/shell/xvfb.sh bash "$0" "$@"
fi
if /usr/lib/wine/wine --version > /dev/null 2>&1; then
    zip=$(ls -t dist/tavrin-*-win32.zip | head -n 1) build=build-windows
else
    zip=$(ls -t dist/tavrin-*-win64.zip | head -n 1) build=build-windows64
fi
source tests/windows/lib.sh
make_prefix
unpack_zip "$(realpath "$zip")"
bare="$(dirname "$exe")/bare_window.exe"
cp "$build/bin/bare_window.exe" "$bare"
printf '[TRACE]\r\nENABLE = TRUE\r\n' > "$ini"

# time_to_window EXE TITLE: milliseconds from start to the window shown.
time_to_window() {
    local started window shown
    exe=$1
    started=$(date +%s%N)
    start_program
    for _ in $(seq 3000); do # polled finely: the window's first moment counts
        window=$(xdotool search --onlyvisible --name "^$2\$" 2>/dev/null | head -n 1) || true
        [ -n "$window" ] && break
        sleep 0.01
    done
    shown=$(date +%s%N)
    [ -n "$window" ] || fail "no window \"$2\""
    press "$window" Escape
    wait_end 10 || stop_program
    echo $(( (shown - started) / 1000000 ))
}

tavrin=$exe
time_to_window "$tavrin" 'Edit: Backward\.ini' > /dev/null # warm the prefix and the file cache
time_to_window "$bare" 'Bare window' > /dev/null
t_all=() b_all=()
for _ in $(seq "$rounds"); do
    t_all+=("$(time_to_window "$tavrin" 'Edit: Backward\.ini')")
    b_all+=("$(time_to_window "$bare" 'Bare window')")
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
t=$(median "${t_all[@]}")
b=$(median "${b_all[@]}")
echo "tavrin.exe to its window: median ${t} ms (${t_all[*]})"
echo "bare Qt window:           median ${b} ms (${b_all[*]})"
awk -v t="$t" -v b="$b" 'BEGIN { printf "ratio: %.2f\n", t / b }'
