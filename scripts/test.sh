#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in the optimised build and once
# under AddressSanitizer + UndefinedBehaviorSanitizer (any report fails the run).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
jobs=$(nproc)

echo "== release build"
scripts/build.sh release
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build"
scripts/build.sh asan
ctest --test-dir build-asan --output-on-failure -j "$jobs"

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzzing"
  scripts/fuzz.sh
fi
