# What the Linux and the Windows process tests share about the program under
# test, which runs as $pid on a (virtual) display. The caller defines fail.

stop_program() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        pid=
    fi
}

# wait_end SECONDS: waits for the program to end and sets $status to its
# exit status; false when it is still running. (Not in a subshell: only the
# shell that started the program can wait for it.)
wait_end() {
    for _ in $(seq $(( $1 * 10 ))); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && return 1
    status=0
    wait "$pid" || status=$?
    pid=
}

# wait_box_closed BOX: true once the message box BOX is no longer shown.
wait_box_closed() {
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name '^Tavrin$' 2>/dev/null | grep -qx "$1" || return 0
        sleep 0.1
    done
    return 1
}

# still_open WHAT: a second after WHAT, the program and its window are there.
still_open() {
    sleep 1
    kill -0 "$pid" 2>/dev/null || fail "the program ended after $1"
    xdotool search --onlyvisible --name '^Edit: Backward\.ini$' > /dev/null || fail "the window went after $1"
}
