#!/usr/bin/env bash
# The optimizer benchmark: generates databases of 100,000 and 1,000,000 objects, times
# atlor-optimize on each and reports seconds and peak memory next to a baseline on the same
# database (every OBJECTS value read once and the same bytes written into a new table).
# Usage: bench/optimizer/run.sh [objects ...]      (default: 100000 1000000)
set -euo pipefail
cd "$(dirname "$0")/../.."

scripts/setup.sh
scripts/build.sh release
bin=$PWD/build/bin
work=$PWD/build/bench-optimizer
mkdir -p "$work"

sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(100000 1000000)

# Runs a command and prints "seconds peak-MiB".
measure() {
  if ! /usr/bin/time -o "$work/time.txt" -f "%e %M" "$@" >/dev/null 2>"$work/stderr.txt"; then
    cat "$work/stderr.txt" >&2
    return 1
  fi
  local seconds kib
  read -r seconds kib <"$work/time.txt"
  echo "$seconds $((kib / 1024))"
}

printf "%-10s %-22s %10s %10s\n" "objects" "job" "seconds" "peak MiB"
for n in "${sizes[@]}"; do
  db="$work/bench-$n.sqlite"
  rm -f "$db" "$db-wal" "$db-shm"
  (cd "$work" && "$bin/atlor-sample" --seed 7 --layers 4 --objects "$n" --tree mixed SQLITE "file=$db" >/dev/null 2>&1)
  read -r s m <<<"$(cd "$work" && measure "$bin/objects-copy-baseline" SQLITE "file=$db")"
  printf "%-10s %-22s %10s %10s\n" "$n" "baseline (copy blobs)" "$s" "$m"
  read -r s m <<<"$(cd "$work" && measure "$bin/atlor-optimize" --yes --drop-old --quiet SQLITE "file=$db")"
  printf "%-10s %-22s %10s %10s\n" "$n" "atlor-optimize" "$s" "$m"
  rm -f "$db" "$db-wal" "$db-shm"
done
