#!/usr/bin/env bash
# Times a batch repair of many tables, in one run: `dbfrepair repair` over
# the folders with --jobs 1 and --jobs 2, against a shell loop of one
# `dbfrepair repair` call a table. Prints medians, tables per second, MB/s
# and the ratios.
#
#   bench/batch.sh [--small N] [--big N] [--big-mb MB] [--runs N] [--data DIR]
#
# The tables (bench/make_batch_bench_tables.py: 1,000 small FoxPro tables of
# 1-200 KB with memos and 20 of 20 MB, a third of them with a damaged header)
# are generated once into DIR (default build/bench-data/batch, outside git)
# and reused. dbfrepair is taken from $DBFREPAIR or build/bin/dbfrepair.
# Not run by CTest.
#
# Targets: --jobs 2 at least 1.7x --jobs 1 on a 2-core machine, and faster
# than the shell loop.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SMALL=1000
BIG=20
BIG_MB=20
RUNS=3
DATA="$ROOT/build/bench-data/batch"
while [ $# -gt 0 ]; do
  case "$1" in
    --small) SMALL="$2"; shift 2 ;;
    --big) BIG="$2"; shift 2 ;;
    --big-mb) BIG_MB="$2"; shift 2 ;;
    --runs) RUNS="$2"; shift 2 ;;
    --data) DATA="$2"; shift 2 ;;
    -h|--help) sed -n '2,16p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "batch.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

DBFREPAIR="${DBFREPAIR:-$ROOT/build/bin/dbfrepair}"
PY=/usr/bin/python3
[ -x "$DBFREPAIR" ] || { echo "batch.sh: $DBFREPAIR is missing (build first)" >&2; exit 2; }

SET="$DATA/set_${SMALL}_${BIG}x${BIG_MB}"
if [ ! -f "$SET/.done" ]; then
  echo "Generating $SET ..." >&2
  rm -rf "$SET"
  "$PY" "$ROOT/bench/make_batch_bench_tables.py" "$SET" "$SMALL" "$BIG" "$BIG_MB"
  touch "$SET/.done"
fi
TABLES=$((SMALL + BIG))
BYTES=$(du -sb --exclude=.done "$SET" | cut -f1)

WORK="$(mktemp -d "$DATA/run.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

run_loop() {
  for f in "$SET"/small/*.dbf "$SET"/big/*.dbf; do
    "$DBFREPAIR" repair "$f" -o "$WORK/out" --quiet >/dev/null || [ $? = 3 ]
  done
}
run_jobs() { "$DBFREPAIR" repair "$SET/small" "$SET/big" -o "$WORK/out" --jobs "$1" --quiet >/dev/null; }

# Seconds of wall-clock time of one run into an empty output folder.
elapsed() {
  rm -rf "$WORK/out"; mkdir -p "$WORK/out"
  # The last run's files are on disk and their deletion settled before the
  # clock starts.
  sync; sleep 1
  local t0 t1
  t0=$(date +%s.%N)
  "$@"
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

T_LOOP=(); T_J1=(); T_J2=()
# The order turns each round, so that no way of running always follows the
# same one.
for ((r = 0; r < RUNS; r++)); do
  for ((k = 0; k < 3; k++)); do
    case $(((r + k) % 3)) in
      0) T_LOOP+=("$(elapsed run_loop)") ;;
      1) T_J1+=("$(elapsed run_jobs 1)") ;;
      2) T_J2+=("$(elapsed run_jobs 2)") ;;
    esac
  done
done
# Every table must have been saved by the last run.
SAVED=$(find "$WORK/out" -name '*.dbf' | wc -l)
[ "$SAVED" = "$TABLES" ] || { echo "batch.sh: $SAVED of $TABLES tables saved" >&2; exit 1; }

M_LOOP=$(median "${T_LOOP[@]}"); M_J1=$(median "${T_J1[@]}"); M_J2=$(median "${T_J2[@]}")
echo "Batch: $TABLES tables ($SMALL small, $BIG of $BIG_MB MB), $(echo "$BYTES / 1000000" | bc) MB, $RUNS runs, $(nproc) cores"
printf '%-16s %10s %10s %10s %12s\n' "how" "median s" "tables/s" "MB/s" "x jobs 1"
line() { printf '%-16s %10.3f %10.1f %10.1f %12.2f\n' "$1" "$2" "$(echo "$TABLES / $2" | bc -l)" \
  "$(echo "$BYTES / 1000000 / $2" | bc -l)" "$(echo "$M_J1 / $2" | bc -l)"; }
line "shell loop" "$M_LOOP"
line "--jobs 1" "$M_J1"
line "--jobs 2" "$M_J2"
printf 'jobs 2 vs loop: %.2fx faster\n' "$(echo "$M_LOOP / $M_J2" | bc -l)"
printf 'all times: loop %s | jobs 1 %s | jobs 2 %s\n' "${T_LOOP[*]}" "${T_J1[*]}" "${T_J2[*]}"
