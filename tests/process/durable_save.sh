#!/usr/bin/env bash
# A save is on the disk before the controller is asked to reload it, and a
# save that does not fit on the disk is reported and changes nothing.
#  1. Under strace: the new file's data is synced, then renamed over the old
#     one, then the folder is synced, and only then is the reload requested.
#  2. As root, the program run as nobody on a file that only root may write,
#     in a folder that everyone may write: Enter shows "Cant save", the file
#     keeps every byte and its owner, and no reload is requested.
#  3. As root, on a small file system mounted as drive C: and filled up: Enter
#     shows "Cant save", the file keeps every byte and no reload is requested.
# Usage: bash tests/shell/xvfb.sh bash tests/process/durable_save.sh TAVRIN_FAULTS
set -euo pipefail
source "$(dirname "$0")/lib.sh"
binary=$1
export TAVRIN_CONTROLLER=accept
note=$'; cell 4\r\n[trace]\r\nenable = true\r\nmovements = 12\r\n'

# The window found by its name alone: $pid is strace's, which ends with the
# program and passes on its status.
wait_traced_window() {
    window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Edit: Backward\.ini$' | head -n 1) ||
        fail "no window"
    xdotool windowfocus --sync "$window"
}

# The trace with every call that another thread interrupted ("... <unfinished
# ...>", later "<... NAME resumed>...") joined into one line where it began.
join_trace() {
    awk '
        / <unfinished \.\.\.>$/ { sub(/ <unfinished \.\.\.>$/, ""); begun[$1] = NR; text[NR] = $0; next }
        /^[0-9]+ +<\.\.\. [^ ]+ resumed>/ && ($1 in begun) {
            rest = $0; sub(/^[0-9]+ +<\.\.\. [^ ]+ resumed>/, "", rest)
            text[begun[$1]] = text[begun[$1]] rest; delete begun[$1]; next
        }
        { text[NR] = $0 }
        END { for (i = 1; i <= NR; i++) if (i in text) print text[i] }' "$1"
}

# line PATTERN: the number of the first line of the joined trace that matches.
line() { grep -n -m 1 -E -- "$1" "$work/joined" | cut -d: -f1 || true; }

if ! strace -f -qq -o /dev/null true 2> /dev/null; then
    echo "SKIP: strace cannot trace here"
else
    printf '%s' "$note" > "$ini"
    : > "$work/stderr"
    TAVRIN_DRIVE_C="$work" strace -f -y -qq -o "$work/trace" \
        -e trace=fdatasync,fsync,rename,renameat,renameat2,write "$binary" 2>> "$work/stderr" &
    pid=$!
    wait_traced_window
    xdotool key Return
    wait_line '^status: restored$' 15 || fail "Apply did not end"
    end_with_escape
    join_trace "$work/trace" > "$work/joined"
    synced=$(line 'fdatasync\([0-9]+<.*/QEL/Roboter/Init/[^>]+>.*\) += 0')
    renamed=$(line 'rename(at2?)?\(.*/Backward\.ini\.[^/"]+", .*/Backward\.ini"(, [0-9A-Z_]+)?\) += 0')
    folder=$(line 'fsync\([0-9]+<.*/QEL/Roboter/Init>\) += 0')
    reload=$(line 'write\(2<[^>]*>, "controller: SetVar \$LOAD_TAVRIN=')
    echo "trace lines: data synced $synced, renamed $renamed, folder synced $folder, reload $reload"
    [ -n "$synced" ] && [ -n "$renamed" ] && [ -n "$folder" ] && [ -n "$reload" ] ||
        { grep -E 'sync|rename|controller' "$work/joined"; fail "a step is missing from the trace"; }
    [ "$synced" -lt "$renamed" ] && [ "$renamed" -lt "$folder" ] && [ "$folder" -lt "$reload" ] ||
        fail "the steps are out of order"
    echo "PASS: synced, renamed, folder synced, then the reload requested"
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: running the program as another user needs root"
else
    printf '%s' "$note" > "$ini"
    chmod 644 "$ini"
    chmod 777 "$(dirname "$ini")"
    chmod 755 "$work" "$work/QEL" "$work/QEL/Roboter"
    old=$(od -An -c "$ini")
    mkdir -m 777 "$work/home"
    cp "${XAUTHORITY:-/dev/null}" "$work/xauthority"
    chmod 644 "$work/xauthority"
    : > "$work/stderr"
    setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$work/home" XAUTHORITY="$work/xauthority" \
        TAVRIN_DRIVE_C="$work" "$binary" 2>> "$work/stderr" &
    pid=$!
    wait_window
    xdotool key Return
    wait_line '^status: restored$' 15 || fail "Apply did not end"
    grep -q '^message: Cant save C:\\QEL\\Roboter\\Init\\Backward\.ini\\r\\nThis user may not write the file: .' \
        "$work/stderr" || fail "no \"Cant save\" message with the system's reason"
    grep -q 'SetVar' "$work/stderr" && fail "the controller was asked to reload a file that was not saved"
    [ "$(od -An -c "$ini")" = "$old" ] && [ "$(stat -c %u:%g "$ini")" = 0:0 ] || fail "the settings file changed"
    [ "$(ls -A "$(dirname "$ini")")" = Backward.ini ] || fail "files were left beside the settings file"
    end_with_escape
    echo "PASS: as nobody, on a file only root may write, Enter said \"Cant save\", kept it, asked for no reload"
fi

# Drive C: on its own small file system; the program's standard error stays outside.
drive=$work/c
mkdir "$drive"
if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=256k tavrin-test "$drive"; then
    echo "SKIP: cannot mount a small file system here (needs root)"
    exit 0
fi
trap 'stop_program; umount -l "$drive"; rm -rf "$work"' EXIT
ini=$drive/QEL/Roboter/Init/Backward.ini
mkdir -p "$(dirname "$ini")"
printf '%s' "$note" > "$ini"
old=$(od -An -c "$ini")
dd if=/dev/zero of="$drive/filler" bs=4k 2> /dev/null || true
start_program "$binary" TAVRIN_DRIVE_C="$drive"
wait_window
xdotool key Return
wait_line '^status: restored$' 15 || fail "Apply did not end"
grep -q '^message: Cant save C:\\QEL\\Roboter\\Init\\Backward\.ini\\r\\n.' "$work/stderr" ||
    fail "no \"Cant save\" message with a reason"
grep -q 'SetVar' "$work/stderr" && fail "the controller was asked to reload a file that was not saved"
[ "$(od -An -c "$ini")" = "$old" ] || fail "the settings file changed"
end_with_escape
echo "PASS: on a full disk Enter said \"Cant save\", kept the file and asked for no reload"
