#!/usr/bin/env bash
# Sets up, builds and runs every test. An optional argument names another
# preset: "asan" runs the same suite under AddressSanitizer and UBSan,
# "mingw" and "mingw32" the Windows control host's tests under 64-bit and
# 32-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
case $preset in
    mingw) bash scripts/setup.sh g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev wine64 ;;
    mingw32)
        # 32-bit Wine comes with Debian's i386 architecture.
        if [ "$(id -u)" -eq 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
            dpkg --add-architecture i386
        fi
        bash scripts/setup.sh g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev wine32:i386 ;;
    *) bash scripts/setup.sh ;;
esac
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
