#!/usr/bin/env bash
# Sets up, builds and runs every test. An optional argument names another
# preset: "asan" runs the same suite under AddressSanitizer and UBSan,
# "mingw" the Windows control host's tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
case $preset in
    mingw) bash scripts/setup.sh g++-mingw-w64-x86-64-posix wine64 ;;
    *) bash scripts/setup.sh ;;
esac
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
