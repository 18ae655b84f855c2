#!/usr/bin/env bash
# The program opens on bad settings files without a crash, with the
# "Cant open " message where loading fails, and ends on Escape.
# Usage: bash tests/shell/xvfb.sh bash tests/process/bad_input.sh TAVRIN_FAULTS
set -euo pipefail
source "$(dirname "$0")/lib.sh"
binary=$1
cant_open='Cant open C:\QEL\Roboter\Init\Backward.ini'

# Deterministic junk: random bytes, without "[" where no header may appear.
junk() { perl -e 'srand($ARGV[0]); my $n = $ARGV[1]; my $s = ""; while (length $s < $n) { my $c = chr(int(rand(256))); $s .= $c unless $ARGV[2] && $c eq "["; } print $s' "$@"; }

make_case() {
    rm -rf "$ini"
    case $1 in
        empty) : > "$ini" ;;
        nul-bytes) head -c 65536 /dev/zero > "$ini" ;;
        1mb-line) { printf '[TRACE]\r\nMOVEMENTS = '; head -c 1048576 /dev/zero | tr '\0' '7'; } > "$ini" ;;
        byte-order-mark) printf '\xef\xbb\xbf[TRACE]\r\nENABLE = TRUE\r\n' > "$ini" ;;
        10mb-junk) junk 1 10485760 1 > "$ini" ;;
        binary-junk) junk 2 1048576 > "$ini" ;;
        directory) mkdir "$ini" ;;
        unreadable) printf '[TRACE]\r\nENABLE = TRUE\r\n' > "$ini"; chmod 000 "$ini" ;;
        dangling-link) ln -s "$work/nowhere.ini" "$ini" ;;
        missing) ;;
    esac
}

# Whoever may read a file without read permission (root) loads it.
unreadable_message=$cant_open
[ "$(id -u)" -eq 0 ] && unreadable_message=
declare -A expected=(
    [empty]= [nul-bytes]= [1mb-line]= [byte-order-mark]= [10mb-junk]= [binary-junk]=
    [directory]=$cant_open [unreadable]=$unreadable_message [dangling-link]=$cant_open [missing]=$cant_open
)

failures=0
for name in empty nul-bytes 1mb-line byte-order-mark 10mb-junk binary-junk directory unreadable dangling-link missing; do
    make_case "$name"
    started=$(date +%s%N)
    start_program "$binary"
    wait_window
    opened=$(( ($(date +%s%N) - started) / 1000000 ))
    messages=$(sed -n 's/^message: //p' "$work/stderr")
    outcome=ok
    [ "$messages" = "${expected[$name]}" ] || outcome="messages: [$messages], expected [${expected[$name]}]"
    [ "$outcome" = ok ] && { end_with_escape || outcome="Escape did not end it"; }
    stop_program
    printf '%-16s opened in %5d ms, message: %s\n' "$name" "$opened" "${messages:-none}"
    if [ "$outcome" != ok ]; then
        echo "FAIL: $name: $outcome"
        failures=$((failures + 1))
    fi
    chmod -R u+rwx "$ini" 2>/dev/null || true
done
echo "$(( 10 - failures )) passed, $failures failed"
[ "$failures" -eq 0 ]
