#!/usr/bin/env bash
# Builds the loader's fuzz target with clang and libFuzzer and runs it from
# the starting corpus in fuzz/seeds for the given number of seconds (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh clang libclang-rt-14-dev
cmake --preset fuzz
cmake --build --preset fuzz
corpus=build-fuzz/corpus
mkdir -p "$corpus"
log=build-fuzz/fuzz.log
status=0
./build-fuzz/fuzz_loader -max_total_time="$seconds" -timeout=5 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/ "$corpus" fuzz/seeds > "$log" 2>&1 || status=$?
grep -E '^(stat::|Done )|ERROR|fuzz_loader:' "$log" || true
if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    echo "fuzz: finding saved under build-fuzz/ (crash-*, timeout-*, slow-unit-*)" >&2
    exit "$status"
fi
echo "fuzz: no findings in ${seconds} s"
