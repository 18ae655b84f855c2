#!/usr/bin/env bash
# Builds the Windows program against a Qt kit made from Debian's own source
# (the first run builds the kit: about 20 minutes on 2 cores; later runs take
# it from the cache), runs its tests under Wine on a virtual display, packs
# dist/tavrin-<version>-win32.zip and runs the program from that zip in a
# fresh Wine prefix.
#   bash scripts/windows.sh [i686|x86_64]     (default i686, 32-bit)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-i686}
case $arch in
    i686) preset=windows ;;
    x86_64) preset=windows64 ;;
    *) echo "windows: architecture must be i686 or x86_64, not $arch" >&2; exit 2 ;;
esac
step() { echo "windows: $*"; }

step "installing what the build and Wine need"
bash scripts/setup.sh "g++-mingw-w64-${arch//_/-}-posix" mingw-w64-tools wine wine32 wine64
step "the Qt kit for $arch Windows"
kit=$(bash scripts/qt-kit.sh "$arch" | tail -n 1)
export TAVRIN_QT_KIT=$kit

step "configuring and building (preset $preset)"
cmake --preset "$preset" > /dev/null
cmake --build --preset "$preset"
cmake --build --preset "$preset" --target dist
zip=$(ls -t dist/tavrin-*-"$( [ "$arch" = i686 ] && echo win32 || echo win64 )".zip | head -n 1)

step "the tests under Wine"
xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset "$preset"
step "the program from $zip in a fresh Wine prefix"
xvfb-run -a -s "-screen 0 1024x768x24" bash tests/windows/zip_test.sh "$zip"
