#!/usr/bin/env bash
# Sets up, builds, and runs the main job on a generated demo database.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh release

bin=build/bin
if [ -x "$bin/atlor-optimize" ] && [ -x "$bin/atlor-sample" ]; then
  work=work/demo
  mkdir -p "$work"
  rm -f "$work/demo.sqlite" "$work/demo.sqlite-wal" "$work/demo.sqlite-shm"
  (cd "$work" && "../../$bin/atlor-sample" --seed 1 --layers 4 --objects 100000 SQLITE file=demo.sqlite)
  (cd "$work" && "../../$bin/atlor-optimize" --yes --drop-old SQLITE file=demo.sqlite)
else
  echo "The optimizer is not built yet; running the unit tests of what exists."
  ctest --test-dir build --output-on-failure
fi
