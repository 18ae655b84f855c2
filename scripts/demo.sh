#!/usr/bin/env bash
# Sets up, builds and opens the program on a demo copy of the settings file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default
cmake --build --preset default

drive=build/demo
mkdir -p "$drive/QEL/Roboter/Init"
cp demo/Backward.ini "$drive/QEL/Roboter/Init/Backward.ini"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: there is no display to open the window on (DISPLAY is not set)." >&2
    echo "demo: run this on a desktop, or under a virtual one: bash tests/shell/xvfb.sh bash scripts/demo.sh" >&2
    exit 1
fi
echo "demo: settings file is $drive/QEL/Roboter/Init/Backward.ini"
echo "demo: change a setting, press Enter or Apply to save; Escape closes the window."
TAVRIN_DRIVE_C="$PWD/$drive" ./build/tavrin
echo "demo: the settings file now reads:"
cat "$drive/QEL/Roboter/Init/Backward.ini"
