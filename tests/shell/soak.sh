#!/usr/bin/env bash
# Runs the process tests N rounds in a row, two at a time, while two busy
# loops keep both cores loaded, and counts the rounds that passed: a test that
# passes by luck fails here within a few rounds. Not part of CI (too long).
#   bash tests/shell/soak.sh N [BUILD_DIR]     (default build/, as scripts/test.sh makes it)
set -euo pipefail
cd "$(dirname "$0")/../.."
rounds=${1:?usage: soak.sh ROUNDS [BUILD_DIR]}
build=${2:-build}
[ -f "$build/CTestTestfile.cmake" ] || { echo "soak: no build in $build: run scripts/test.sh first" >&2; exit 2; }
logs=$(mktemp -d)
busy=()
stop_busy() { for p in "${busy[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap stop_busy EXIT
for _ in 1 2; do
    (while :; do :; done) &
    busy+=($!)
done

passed=0 failed=0
for round in $(seq "$rounds"); do
    log=$logs/round-$round.log
    started=$SECONDS
    if ctest --test-dir "$build" -L process -j2 --output-on-failure > "$log" 2>&1; then
        passed=$((passed + 1))
        echo "soak: round $round passed ($((SECONDS - started)) s)"
    else
        failed=$((failed + 1))
        echo "soak: round $round failed ($((SECONDS - started)) s): $(grep -E '\*\*\*(Failed|Timeout)' "$log" | awk '{print $4}' | paste -sd ' ' -); log $log"
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && rm -rf "$logs"
[ "$failed" -eq 0 ]
