#!/usr/bin/env bash
# Every call that the load and one Apply make on the settings file and its
# folder, failed in turn. For each case of the table below a real run is traced
# first; every call it made on those paths, as often as it made it, is then
# failed once per run with each error that call can really return, and Enter
# is pressed. Each trial must end with:
#  - Apply ended and the program alive, Escape ending it with status 0;
#  - either the old file, byte for byte, one "Cant save" box and no reload, or
#    the new file, no "Cant save" box and one reload;
#  - the file the same file (mode, owner, access list, attributes) and nothing
#    of ours beside it;
#  - "Cant open" only where a call that reading needs failed; a failed sync of
#    the folder after the rename reported in a box of its own.
# As root the program runs as nobody, as a technician would.
# Usage: bash tests/shell/xvfb.sh bash tests/process/save_faults.sh TAVRIN_FAULTS
set -euo pipefail
source "$(dirname "$0")/lib.sh"
binary=$1
export TAVRIN_CONTROLLER=accept
folder=$(dirname "$ini")

if ! strace -f -qq -o /dev/null true 2> /dev/null; then
    echo "SKIP: strace cannot trace here"
    exit 0
fi
run_as=()
if [ "$(id -u)" -eq 0 ]; then
    run_as=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$work/home")
    mkdir -m 777 "$work/home"
    chmod 755 "$work" "$work/QEL" "$work/QEL/Roboter"
fi
own() { [ ${#run_as[@]} -eq 0 ] || chown nobody:nogroup "$@"; }

# A real file's size: its leading comments, every section with keys the
# writer drops, so that the new text is shorter than the old.
old_text=$'; cell 4, line 2\r\n; checked by the maintenance team\r\n\r\n[trace]\r\nenable = true\r\nfinished_sub = stop\r\nmovements = 12\r\ncycflags = 7\r\nremark = taught 2019\r\n\r\n[ofc]\r\nset_to_false = true\r\ntrace = no_trace\r\nrestore = at_fwd\r\n\r\n[scan]\r\nenable = true\r\nspeed = 40\r\n\r\n[general]\r\nbackwardstart = true\r\nimplicit_bco = false\r\nquit_m_trace_scan = true\r\n\r\n[endsection]\r\n'
comments=$'; CELL 4, LINE 2\r\n; CHECKED BY THE MAINTENANCE TEAM\r\n' written_file T_ENABLE=TRUE FINISHED_SUB=STOP \
    MOVEMENTS=12 CYCFLAGS=7 SET_TO_FALSE=TRUE TRACE=NO_TRACE RESTORE=AT_FWD S_ENABLE=TRUE BACKWARDSTART=TRUE \
    QUIT_M_TRACE_SCAN=TRUE > "$work/new"

# The cases: name | setup (a function below) | root only
setup_replace() { :; }
setup_second_link() { ln "$ini" "$folder/Backward.lnk"; }
setup_closed_folder() { chmod 555 "$folder"; }
setup_unlisted_folder() { chmod 300 "$folder"; }
setup_access_list() {
    setfacl -m u:daemon:rw-,g::r--,m::rw- "$ini"
    setfattr -n user.note -v 'cell 4' "$ini"
}
setup_foreign_read_only() { chown root:root "$ini"; chmod 444 "$ini"; }
cases=(
    "replace|setup_replace|"
    "in place, a second hard link|setup_second_link|"
    "in place, a folder the user may not create files in|setup_closed_folder|"
    "replace, a folder the user may not list|setup_unlisted_folder|"
    "replace, an access list and an attribute|setup_access_list|"
    "load, another owner's read-only file|setup_foreign_read_only|root"
)

prepare() {
    find "$folder" -mindepth 1 -delete 2> /dev/null || { chmod 755 "$folder"; find "$folder" -mindepth 1 -delete; }
    chmod 755 "$folder"
    printf '%s' "$old_text" > "$ini"
    chmod 644 "$ini"
    own "$folder" "$ini"
    "$1"
    identity=$(identity_of)
}
identity_of() {
    stat -c '%a %u %g %h' "$ini"
    getfacl -cp "$ini" 2> /dev/null
    getfattr -d "$ini" 2> /dev/null | grep -v '^#' || true
}
beside() { chmod u+r "$folder"; ls -A "$folder" | grep -vx -e Backward.ini -e Backward.lnk || true; }

on_paths=(-P "$ini" -P "$folder" -P "$folder/Backward.lnk")

# counts TRACE: each call of a trace with how often it was made, and how
# often on the settings folder or a file in it.
counts() {
    grep -v -e ' resumed>' -e '^[0-9]* +++' -e '^[0-9]* ---' "$1" | awk -v folder="$folder" '
        { sub(/^[0-9]+ +/, ""); call = $0; sub(/\(.*/, "", call); if (call !~ /^[a-z0-9_]+$/) next; all[call]++
          if (index($0, folder "/") || index($0, folder ">") || index($0, folder "\"")) ours[call]++ }
        END { for (c in all) print c, all[c], ours[c] + 0 }' | sort
}

# The errors each call can really return.
errors_of() {
    case $1 in
        write | pwrite64 | writev | fdatasync | fsync | syncfs | ftruncate | fallocate) echo EIO ENOSPC EDQUOT ;;
        open | openat | openat2 | creat | chmod | fchmod | fchmodat | chown | fchown | fchownat | link | linkat | \
            rename | renameat | renameat2 | unlink | unlinkat | setxattr | fsetxattr | lsetxattr | removexattr | \
            fremovexattr) echo EACCES EPERM ;;
        read | pread64 | readv | getdents64 | close | fstat | fgetxattr | flistxattr | getxattr | lgetxattr | \
            listxattr | llistxattr) echo EIO ;;
        stat | lstat | newfstatat | statx | access | faccessat | faccessat2 | readlink | readlinkat | statfs) echo EACCES ;;
        flock) echo ENOLCK ;;
    esac # lseek, fcntl and ioctl fail on a regular file only for a wrong argument.
}

# run_trial STRACE_OPTIONS...: one run, Enter, Escape; sets $outcome.
run_trial() {
    : > "$work/stderr"
    strace -f -qq -y "$@" "${run_as[@]}" env TAVRIN_DRIVE_C="$work" "$binary" 2>> "$work/stderr" &
    pid=$!
    outcome=
    window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Edit: Backward\.ini$' | head -n 1) ||
        { outcome="no window ($(kill -0 "$pid" 2> /dev/null && echo running || echo ended))"; stop_program; return; }
    xdotool windowfocus --sync "$window"
    xdotool key Return
    wait_line '^status: restored$' 15 || { outcome="Apply did not end"; stop_program; return; }
    xdotool key Escape
    wait_end 5 || { outcome="Escape did not end the program"; stop_program; return; }
    [ "$status" -eq 0 ] || outcome="the program ended with status $status"
}

# judge CALL: checks the invariants after a trial; sets $outcome and $result.
judge() {
    local cant_save reloads cant_open file=other
    cant_save=$(grep -c '^message: Cant save ' "$work/stderr" || true)
    cant_open=$(grep -c '^message: Cant open ' "$work/stderr" || true)
    reloads=$(grep -c '^controller: SetVar \$LOAD_TAVRIN=' "$work/stderr" || true)
    if [ "$(printf '%s' "$old_text" | od -An -c)" = "$(od -An -c "$ini")" ]; then
        file=old
    elif cmp -s "$ini" "$work/new"; then
        file=new
    elif [ "$cant_open" -gt 0 ] && [ "$(tail -c 16 "$ini" | od -An -c)" = "$(tail -c 16 "$work/new" | od -An -c)" ]; then
        file=new # all that a failed load had read, written whole
    fi
    result="$file, $cant_save Cant save, $reloads reload"
    [ "$cant_open" -eq 0 ] || result="\"Cant open\", $result"
    [ -n "$outcome" ] && return
    case $file,$cant_save,$reloads in
        old,1,0 | new,0,1) ;;
        *) outcome="ended with $result" ;;
    esac
    # A folder that the new name may not have reached: saved, and said so.
    case $1,$file in
        fsync,new | syncfs,new) grep -q '^message: Saved .*may not be on the disk: .' "$work/stderr" ||
            outcome="a failed sync of the folder was not reported" ;;
    esac
    case $1 in
        openat | read | statx | newfstatat | fstat | readlink | access | lseek) ;; # reading needs them
        *) [ "$cant_open" -eq 0 ] || outcome="\"Cant open\" on a file that could be read" ;;
    esac
    [ "$(identity_of)" = "$identity" ] || outcome="the file is no longer the same file: $(identity_of | paste -sd ' ')"
    local left
    left=$(beside)
    [ -z "$left" ] || outcome="left beside the file: $left"
}

trials=0 broken=0
report() { # NAME
    trials=$((trials + 1))
    if [ -n "$outcome" ]; then
        broken=$((broken + 1))
        echo "BROKEN: $1: $outcome"
        grep '^message: ' "$work/stderr" | sed 's/^/    /' || true
    else
        echo "ok: $1: $result"
    fi
}

for row in "${cases[@]}"; do
    IFS='|' read -r name setup needs <<< "$row"
    if [ "$needs" = root ] && [ ${#run_as[@]} -eq 0 ]; then
        echo "SKIP: $name: needs root"
        continue
    fi
    # The calls of a real run, from its trace: a call that the program makes
    # only on the settings folder's files is counted wherever it is made (the
    # new file has no name while it is written, and strace's paths name only
    # a rename's source), any other only on the paths.
    prepare "$setup"
    run_trial -o "$work/trace"
    judge none
    report "$name, no fault"
    prepare "$setup"
    run_trial -o "$work/trace.paths" "${on_paths[@]}"
    judge none
    report "$name, no fault, traced on its paths"
    calls=$(counts "$work/trace" | while read -r call all ours; do
        if [ "$all" = "$ours" ]; then
            echo "$call $all anywhere"
        else
            echo "$call $(counts "$work/trace.paths" | awk -v c="$call" '$1 == c { print $2 }') paths"
        fi
    done | awk 'NF == 3 && $2 > 0')
    echo "calls of \"$name\": $(echo "$calls" | paste -sd ' ')"
    while read -r call count where; do
        filter=()
        [ "$where" = anywhere ] || filter=("${on_paths[@]}")
        for error in $(errors_of "$call"); do
            for when in $(seq "$count"); do
                prepare "$setup"
                run_trial --seccomp-bpf -o "$work/trace" -e trace="$call" \
                    -e inject="$call:error=$error:when=$when" "${filter[@]}"
                grep -q "(INJECTED)" "$work/trace" || outcome=${outcome:-"the call was not reached"}
                judge "$call"
                report "$name, $call #$when $error"
            done
        done
    done <<< "$calls"
done
echo "$((trials - broken)) of $trials trials kept every promise, $broken broke one"
[ "$broken" -eq 0 ]
