#!/usr/bin/env bash
# Sets up, builds and runs every test. An optional argument names another
# preset: "asan" runs the same suite under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
bash scripts/setup.sh
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
