#!/usr/bin/env bash
# Runs a command on a virtual display of its own, and ends the display after it.
#   bash tests/shell/xvfb.sh [-screen WIDTHxHEIGHTxDEPTH] COMMAND [ARGUMENT...]
# Xvfb picks a free display number itself (-displayfd), so runs at once never
# race for one. It never resets (-noreset): a server that resets when its last
# client leaves also drops the connections still being set up, and a program
# that starts just then finds no display.
set -euo pipefail
screen=1024x768x24
if [ "${1:-}" = -screen ]; then
    screen=$2
    shift 2
fi
[ $# -gt 0 ] || { echo "usage: xvfb.sh [-screen WxHxD] COMMAND [ARGUMENT...]" >&2; exit 2; }

dir=$(mktemp -d)
server=
end_server() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$dir"
}
trap end_server EXIT
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "$screen" 3> "$dir/display" 2> "$dir/log" &
server=$!
# The number is written once the server accepts connections.
for _ in $(seq 200); do
    grep -q '^[0-9][0-9]*$' "$dir/display" 2>/dev/null && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
done
display=$(grep -m 1 '^[0-9][0-9]*$' "$dir/display" 2>/dev/null) || {
    echo "xvfb.sh: the virtual display did not start:" >&2
    cat "$dir/log" >&2
    exit 1
}
export DISPLAY=:$display XVFB_PID=$server
unset WAYLAND_DISPLAY XAUTHORITY
status=0
"$@" || status=$?
exit "$status"
