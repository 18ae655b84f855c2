#!/usr/bin/env bash
# A power cut at any moment of a save leaves the old settings file or the new
# one, and from the reload request on only the new one. Drive C: is ext4 on a
# loop device over an image that blocklog.py serves through FUSE, logging
# every block write and flush; the program saves once with Enter, and every
# crash point of the log is replayed, mounted and read. Paths:
#   replace   the usual save: a new file beside the old one takes its place;
#   in-place  the folder is immutable, so no file can be made in it.
# TAVRIN_POWERCUT_NOSYNC=1 turns the program's syncs into no-ops (strace), a
# broken save that this test must fail.
# Usage, as root: bash tests/shell/xvfb.sh bash powercut.sh TAVRIN_FAULTS PATH...
# Exit status 77: FUSE, loop devices or mounting are refused here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../process/lib.sh"
binary=$1
shift
python=/usr/bin/python3 # Debian's, which has fusepy
recorder= loop= tracer=

skip() {
    echo "SKIP: $*"
    exit 77
}

cleanup() {
    stop_program
    [ -z "$tracer" ] || kill "$tracer" 2> /dev/null || true
    for folder in "$work"/*/c; do ! mountpoint -q "$folder" || umount "$folder" || true; done
    [ -z "$loop" ] || losetup -d "$loop" || true
    for folder in "$work"/*/fuse; do ! mountpoint -q "$folder" || umount "$folder" || true; done
    [ -z "$recorder" ] || wait "$recorder" || true
    rm -rf "$work"
}
trap cleanup EXIT

[ "$(id -u)" -eq 0 ] || skip "needs root, for FUSE, a loop device and mount"
"$python" -c 'import fusepy' 2> /dev/null || skip "no fusepy for $python (Debian's python3-fusepy)"
command -v mkfs.ext4 > /dev/null || skip "no mkfs.ext4"

comment='; CELL 4: BACKWARD RUN AS SET UP ON SITE BY J.K'
printf '%s\r\n[TRACE]\r\nENABLE = TRUE\r\nMOVEMENTS = 12\r\nCYCFLAGS = 5\r\n\r\n[OFC]\r\nRESTORE = AT_BWD\r\n\r\n' \
    "$comment" > "$work/old"
printf '\r\n[GENERAL]\r\nBACKWARDSTART = FALSE\r\nIMPLICIT_BCO = TRUE\r\n\r\n[ENDSECTION]\r\n' >> "$work/old"
comments=$comment$'\r\n' written_file T_ENABLE=TRUE MOVEMENTS=12 IMPLICIT_BCO=TRUE > "$work/new"
echo "the file: $(wc -c < "$work/old") bytes, its new text $(wc -c < "$work/new") bytes"

# trial PATH: one save on that path, recorded; then its crash points
# replayed, with $failures set to the number of images that fail.
trial() {
    local dir=$work/$1
    mkdir -p "$dir/fuse" "$dir/c"
    truncate -s 16M "$dir/base.img"
    mkfs.ext4 -q -F -b 4096 -E lazy_itable_init=0,lazy_journal_init=0 "$dir/base.img"
    cp "$dir/base.img" "$dir/disk.img"
    : > "$work/stderr"
    "$python" "$here/blocklog.py" record "$dir/disk.img" "$dir/fuse" "$dir/log" "$work/stderr" 2> "$dir/recorder" &
    recorder=$!
    for _ in $(seq 50); do [ -e "$dir/fuse/disk" ] || sleep 0.1; done
    [ -e "$dir/fuse/disk" ] || skip "FUSE refused: $(head -n 1 "$dir/recorder")"
    local device
    device=$(losetup -f --show "$dir/fuse/disk" 2>&1) || skip "no loop device: $device"
    loop=$device
    mount -t ext4 "$loop" "$dir/c" || skip "cannot mount ext4 on $loop"

    ini=$dir/c/QEL/Roboter/Init/Backward.ini
    mkdir -p "$(dirname "$ini")"
    cp "$work/old" "$ini"
    [ "$1" = in-place ] && chattr +i "$(dirname "$ini")"
    sync -f "$ini"
    local inode
    inode=$(stat -c %i "$ini")
    # Its standard error goes through the recorder, which notes each line in
    # the log and passes it on to $work/stderr.
    TAVRIN_DRIVE_C=$dir/c TAVRIN_CONTROLLER=accept "$binary" 2>> "$dir/fuse/notes" &
    pid=$!
    wait_window
    if [ "${TAVRIN_POWERCUT_NOSYNC:-}" = 1 ]; then
        strace -f -o /dev/null -e trace=fsync,fdatasync -e inject=fsync,fdatasync:retval=0 -p "$pid" \
            2> "$dir/strace" &
        tracer=$!
        for _ in $(seq 50); do
            [ "$(grep -c ' attached$' "$dir/strace")" -ge "$(ls "/proc/$pid/task" | wc -l)" ] && break
            sleep 0.1
        done
    fi
    echo "test: Enter" >> "$dir/fuse/notes"
    xdotool key Return
    wait_line '^status: restored$' 15 || fail "Apply did not end"
    grep -q '^controller: SetVar \$LOAD_TAVRIN=TRUE -> finished' "$work/stderr" || fail "no reload requested"
    end_with_escape
    [ -z "$tracer" ] || wait "$tracer" || true
    tracer=
    cmp -s "$ini" "$work/new" || fail "the save did not leave the new text"
    if [ "$1" = in-place ]; then
        [ "$(stat -c %i "$ini")" = "$inode" ] || fail "the file was replaced, not written in place"
    else
        [ "$(stat -c %i "$ini")" != "$inode" ] || fail "the file was written in place, not replaced"
    fi
    umount "$dir/c"
    losetup -d "$loop"
    loop=
    umount "$dir/fuse"
    wait "$recorder"
    recorder=

    # The reload request starts with the first line from the controller
    # after Enter: the program connects once the save has returned.
    echo "$1 path:"
    failures=0
    "$python" "$here/blocklog.py" replay "$dir/base.img" "$dir/log" QEL/Roboter/Init/Backward.ini \
        "$work/old" "$work/new" "test: Enter" "controller: " || failures=$?
}

passed=0 failed=0
for path in "$@"; do
    case $path in
        replace | in-place) ;;
        *) echo "powercut: no path $path (replace, in-place)" >&2; exit 2 ;;
    esac
    trial "$path"
    if [ "$failures" -eq 0 ]; then
        echo "PASS: $path path: every crash image holds the old or the new file"
        passed=$((passed + 1))
    else
        echo "FAIL: $path path"
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
