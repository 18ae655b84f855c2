#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# only those that are missing. Arguments name further packages.
set -euo pipefail

packages=(
    cmake g++ make            # build
    qtbase5-dev               # Qt 5.15 Core, Widgets, Test: the Windows program's Qt
    qt6-base-dev              # Qt 6 Core, Widgets, Test: the same source builds with it
    xvfb xauth xdotool        # the program under a virtual display
    fonts-liberation          # faces metric-compatible with the designed ones
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing Debian packages: ${missing[*]}" >&2
    echo "setup: install them as root: apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# 32-bit Windows programs under Wine need Debian's i386 packages.
if [[ " ${missing[*]} " == *" wine32 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
bash "$(dirname "$0")/apt-update.sh"
apt-get install -y -q --no-install-recommends "${missing[@]}"
