#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in the optimised build and once
# under AddressSanitizer + UndefinedBehaviorSanitizer (any report fails the run).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
jobs=$(nproc)

total=0
# Runs one build folder's tests and adds their number to the total.
run_tests() {
  local log
  log=$(mktemp)
  ctest --test-dir "$1" --output-on-failure -j "$jobs" | tee "$log"
  local count
  count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  rm -f "$log"
  total=$((total + ${count:-0}))
}

echo "== release build"
scripts/build.sh release
run_tests build

echo "== sanitizer build"
scripts/build.sh asan
run_tests build-asan

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzzing"
  scripts/fuzz.sh
fi

echo "tests: $total passed, 0 failed"
