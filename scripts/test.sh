#!/usr/bin/env bash
# Sets up, builds and runs every Linux test, against Qt 5.15 (the Windows
# program's Qt) and against Qt 6. An argument names one preset instead:
# "default" (Qt 5.15), "qt6", "asan" (the suite under AddressSanitizer and
# UBSan), "mingw" and "mingw32" (the Windows control host's tests under
# 64-bit and 32-bit Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default qt6)
for preset in "${presets[@]}"; do
    case $preset in
        mingw) bash scripts/setup.sh g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev wine64 ;;
        # Set-up installs 32-bit Wine only where the kernel runs 32-bit programs.
        mingw32) bash scripts/setup.sh g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev wine32 ;;
        *) bash scripts/setup.sh ;;
    esac
    echo "test: preset $preset"
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
    if [ "$preset" = mingw32 ] && ! /usr/lib/wine/wine --version > /dev/null 2>&1; then
        echo "test: mingw32: skipped tst_trelk_control and the stand-in's tests under 32-bit Wine" \
             "(this kernel runs no 32-bit programs); they were built"
    fi
done
