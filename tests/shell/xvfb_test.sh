#!/usr/bin/env bash
# The tests' display outlives its last client: a program that connects just as
# the last one leaves is served, not dropped, as it would be by a server that
# resets then. Made certain by stopping the server while its only client
# leaves and another connects, then letting it go on.
# Usage: bash tests/shell/xvfb.sh bash tests/shell/xvfb_test.sh
set -euo pipefail
# The server's process: as tests/shell/xvfb.sh says, or by its lock file.
server=${XVFB_PID:-$(tr -d ' ' < "/tmp/.X${DISPLAY#:}-lock")}
kill -0 "$server" || { echo "FAIL: no server for $DISPLAY"; exit 1; }
# has_socket PID: the process has opened its connection.
has_socket() {
    for _ in $(seq 100); do
        ls -l "/proc/$1/fd" 2>/dev/null | grep -q 'socket:' && return 0
        sleep 0.02
    done
    return 1
}
trap 'kill -CONT "$server" 2>/dev/null || true' EXIT

passed=0 failed=0
for _ in 1 2 3; do
    xdotool search --sync --name '^no such window$' > /dev/null 2>&1 &
    only=$!
    has_socket "$only" || { echo "FAIL: the first client did not connect"; exit 1; }
    sleep 0.2 # its connection set up
    kill -STOP "$server"
    kill "$only"
    wait "$only" 2>/dev/null || true
    xdotool getmouselocation > /dev/null 2>&1 &
    next=$!
    has_socket "$next" || { kill -CONT "$server"; echo "FAIL: the second client did not connect"; exit 1; }
    kill -CONT "$server"
    if wait "$next"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
