#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) in
# build-fuzz and runs each one for a bounded time, starting from seeds of valid inputs and from
# what earlier runs found (build-fuzz/corpus/<target>). Any crash, leak, sanitizer report,
# timeout or memory blow-up fails the run; the failing input is kept in
# build-fuzz/artifacts/<target>/.
# Usage: scripts/fuzz.sh [target...]   (default: all; FUZZ_TIME_SCALE=0.5 halves every time)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build-fuzz

# One line per fuzz target: its name, seconds to run, and its seeds: a folder of seed files
# (relative to the project folder), a program target that writes seed files into the folder it
# is given, or "-" for none. A target is declared in a tests/.../fuzz folder or, guarded by
# ATLOR_FUZZ, beside its layer's tests.
targets=(
  "storage_objects_fuzz 60 storage_fuzz_seeds"
  "px_reader_fuzz 30 ../shared/paradox-samples"
)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scale=${FUZZ_TIME_SCALE:-1}

selected=("$@")
wanted() {
  [ ${#selected[@]} -eq 0 ] && return 0
  local t
  for t in "${selected[@]}"; do [ "$t" = "$1" ] && return 0; done
  return 1
}

build_targets=()
for line in "${targets[@]}"; do
  read -r name seconds seeder <<<"$line"
  wanted "$name" || continue
  build_targets+=("$name")
  if [ "$seeder" != "-" ] && [ ! -d "$seeder" ]; then build_targets+=("$seeder"); fi
done
if [ ${#build_targets[@]} -eq 0 ]; then
  echo "no such fuzz target: $*" >&2
  exit 2
fi

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DATLOR_FUZZ=ON \
  -DATLOR_BUILD_TESTS=ON -DATLOR_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" --target "${build_targets[@]}"

for line in "${targets[@]}"; do
  read -r name seconds seeder <<<"$line"
  wanted "$name" || continue
  time=$(awk -v s="$seconds" -v k="$scale" 'BEGIN { t = int(s * k); print (t < 1 ? 1 : t) }')
  corpus="$dir/corpus/$name"
  artifacts="$dir/artifacts/$name/"
  mkdir -p "$corpus" "$artifacts"
  if [ -d "$seeder" ]; then
    seeds="$seeder"
  else
    seeds="$dir/seeds/$name"
    mkdir -p "$seeds"
    if [ "$seeder" != "-" ]; then "$dir/bin/$seeder" "$seeds"; fi
  fi
  echo "== fuzzing $name for ${time}s"
  "$dir/bin/$name" -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$seeds"
done
