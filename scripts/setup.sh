#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# only those that are missing. Arguments name further packages.
set -euo pipefail
here=$(dirname "$0")

packages=(
    cmake g++ make            # build
    qtbase5-dev               # Qt 5.15 Core, Widgets, Test: the Windows program's Qt
    libxcb1-dev               # the X desktop's dots per inch, read before Qt 5 starts
    qt6-base-dev              # Qt 6 Core, Widgets, Test: the same source builds with it
    xvfb xdotool              # the program under a virtual display
    strace                    # the order of a save's system calls, and failing each in turn
    libacl1-dev libattr1-dev  # a replace carries the old file's access list and attributes over
    acl attr                  # tests give a file an access list and an attribute
    python3-fusepy e2fsprogs  # power cuts replayed on a recorded block device
    fonts-liberation          # faces metric-compatible with the designed ones
    "$@"
)
# Packages that serve only 32-bit programs: Debian's i386 ones, useless where
# the kernel runs no 32-bit code, and never a reason for set-up to fail.
only_32bit=(wine32)

# True when the kernel runs a 32-bit i386 program: a static one that only
# calls exit(42). TAVRIN_KERNEL_RUNS_32BIT=yes|no answers instead (for tests).
kernel_runs_32bit() {
    case ${TAVRIN_KERNEL_RUNS_32BIT:-} in
        yes) return 0 ;;
        no) return 1 ;;
    esac
    local probe status=0
    probe=$(mktemp) || return 1
    base64 -d > "$probe" <<< 'f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhgAAAAYAAAAAUAAAAAEAAAuAEAAAC7KgAAAM2A'
    chmod +x "$probe"
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    [ "$status" -eq 42 ]
}

native=() wanted_32bit=()
for p in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        continue
    elif [[ " ${only_32bit[*]} " == *" $p "* ]]; then
        wanted_32bit+=("$p")
    else
        native+=("$p")
    fi
done
if [ ${#wanted_32bit[@]} -gt 0 ] && ! kernel_runs_32bit; then
    echo "setup: skipping ${wanted_32bit[*]}: this kernel runs no 32-bit programs"
    wanted_32bit=()
fi
[ ${#native[@]} -eq 0 ] && [ ${#wanted_32bit[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    if [ ${#wanted_32bit[@]} -gt 0 ]; then
        echo "setup: for 32-bit programs, as root: dpkg --add-architecture i386;" \
             "apt-get update; apt-get install ${wanted_32bit[*]}" >&2
    fi
    if [ ${#native[@]} -gt 0 ]; then
        echo "setup: missing Debian packages: ${native[*]}" >&2
        echo "setup: install them as root: apt-get install ${native[*]}" >&2
        exit 1
    fi
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive

# The native packages first and on their own: no i386 list, stale or not,
# stands in their way.
refreshed=
if [ ${#native[@]} -gt 0 ]; then
    echo "setup: installing ${native[*]}"
    bash "$here/apt-update.sh"
    refreshed=1
    apt-get install -y -q --no-install-recommends "${native[@]}"
fi
[ ${#wanted_32bit[@]} -eq 0 ] && exit 0

echo "setup: installing ${wanted_32bit[*]}"
added=
if ! grep -qx i386 <<< "$(dpkg --print-foreign-architectures)"; then
    dpkg --add-architecture i386 || {
        echo "setup: could not install ${wanted_32bit[*]}: dpkg could not add the i386 architecture; going on without it" >&2
        exit 0
    }
    added=1 refreshed=
fi
[ -n "$refreshed" ] || bash "$here/apt-update.sh"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! apt-get install -y -q --no-install-recommends "${wanted_32bit[@]}" 2>&1 | tee "$log"; then
    why=$(grep -m 1 -e ' Depends: ' -e '^E: ' "$log" || tail -n 1 "$log")
    why=${why#"${why%%[! ]*}"}
    echo "setup: could not install ${wanted_32bit[*]} (${why:-apt-get failed}); going on without it" >&2
    # Or every later refresh fetches i386 lists that nothing uses.
    if [ -n "$added" ]; then
        dpkg --remove-architecture i386 2>/dev/null || true
    fi
fi
