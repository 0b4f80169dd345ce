#!/usr/bin/env bash
# Times a whole `dbfrepair repair` against `cp`, pgdbf and python3-dbfread on
# the same tables, in one run, and prints the medians and the ratios to cp.
#
#   bench/compare.sh [--size MB] [--memo-records N] [--runs N] [--dbfread-runs N] [--data DIR]
#
# Two tables, generated once into DIR (default build/bench-data, outside
# git) and reused:
#   plain  no memo, twelve fields of mixed types, about SIZE MB (default 200)
#   memo   FoxPro 2.x with a memo of about 1 KB per record, N records
#          (default 200,000: a 12 MB table and a 200 MB .fpt); cp copies
#          both files, pgdbf runs with -m
# dbfrepair is taken from $DBFREPAIR or build/bin/dbfrepair. Peak memory of
# the repair comes from /usr/bin/time -v. Not run by CTest.
#
# Targets: the whole repair within 3x of cp and faster than pgdbf, peak
# memory independent of the table's size. The repair flushes the table it
# saves to disk and cp does not: the row "cp, flushed to disk" (cp, then
# sync of the copies) shows what that flush alone costs.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SIZE=200
MEMO_RECORDS=200000
RUNS=3
DBFREAD_RUNS=1
DATA="$ROOT/build/bench-data"
while [ $# -gt 0 ]; do
  case "$1" in
    --size) SIZE="$2"; shift 2 ;;
    --memo-records) MEMO_RECORDS="$2"; shift 2 ;;
    --runs) RUNS="$2"; shift 2 ;;
    --dbfread-runs) DBFREAD_RUNS="$2"; shift 2 ;;
    --data) DATA="$2"; shift 2 ;;
    -h|--help) sed -n '2,21p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "compare.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

DBFREPAIR="${DBFREPAIR:-$ROOT/build/bin/dbfrepair}"
PY=/usr/bin/python3
for tool in "$DBFREPAIR" /usr/bin/time "$PY"; do
  [ -x "$tool" ] || { echo "compare.sh: $tool is missing (build first: scripts/test or cmake --build build)" >&2; exit 2; }
done
HAVE_PGDBF=1
command -v pgdbf >/dev/null || { HAVE_PGDBF=0; echo "compare.sh: pgdbf not installed; skipped" >&2; }

mkdir -p "$DATA"
PLAIN="$DATA/bench_${SIZE}mb.dbf"
if [ ! -f "$PLAIN" ]; then
  echo "Generating $PLAIN ($SIZE MB) ..." >&2
  "$PY" "$ROOT/bench/make_bench_table.py" "$PLAIN.part" "$SIZE"
  mv "$PLAIN.part" "$PLAIN"
fi
MEMO="$DATA/memo_${MEMO_RECORDS}.dbf"
if [ ! -f "$MEMO" ] || [ ! -f "${MEMO%.dbf}.fpt" ]; then
  echo "Generating $MEMO ($MEMO_RECORDS records with memos) ..." >&2
  "$PY" "$ROOT/bench/make_memo_bench_table.py" "$MEMO" "$MEMO_RECORDS"
fi

WORK="$(mktemp -d "$DATA/run.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# Seconds of wall-clock time of one command (its output discarded).
elapsed() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

median() {
  [ $# -eq 0 ] && { echo 0; return; }
  printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { if (NR % 2) print a[(NR + 1) / 2]; else print (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

# Each tool writes into an empty folder, with the last tool's writes on
# disk already (the repair flushes what it saves; it must not also wait for
# what cp left in memory); none of this is timed.
fresh_out() {
  rm -rf "$WORK/out"; mkdir -p "$WORK/out"
  sync
}

# bench_table TABLE MEMOFILE-or-empty
bench_table() {
  local TABLE="$1" MEMOFILE="$2"
  local BYTES FILES=("$TABLE")
  [ -n "$MEMOFILE" ] && FILES+=("$MEMOFILE")
  BYTES=$(cat "${FILES[@]}" | wc -c)
  run_repair() { "$DBFREPAIR" repair "$TABLE" -o "$WORK/out" --quiet; }
  run_cp() { cp "${FILES[@]}" "$WORK/out/"; }
  # The repair flushes the table it saves to disk; this is cp doing the same.
  run_cp_sync() { cp "${FILES[@]}" "$WORK/out/" && sync "$WORK/out/"*; }
  run_pgdbf() {
    if [ -n "$MEMOFILE" ]; then pgdbf -m "$MEMOFILE" "$TABLE" >/dev/null; else pgdbf "$TABLE" >/dev/null; fi
  }
  run_dbfread() {
    "$PY" -c 'import sys, dbfread
n = 0
for r in dbfread.DBF(sys.argv[1], ignore_missing_memofile=True):
    n += 1
' "$TABLE"
  }
  # Warm the page cache so that every tool reads from memory.
  cat "${FILES[@]}" >/dev/null

  local -a T_REPAIR=() T_CP=() T_CP_SYNC=() T_PGDBF=() T_DBFREAD=()
  for ((i = 0; i < RUNS; i++)); do
    fresh_out
    T_CP+=("$(elapsed run_cp)")
    fresh_out
    T_CP_SYNC+=("$(elapsed run_cp_sync)")
    fresh_out
    T_REPAIR+=("$(elapsed run_repair)")
    [ "$HAVE_PGDBF" = 1 ] && T_PGDBF+=("$(elapsed run_pgdbf)")
  done
  for ((i = 0; i < DBFREAD_RUNS; i++)); do
    T_DBFREAD+=("$(elapsed run_dbfread)")
  done

  # Peak memory of one more repair.
  fresh_out
  local PEAK_KB
  PEAK_KB=$(/usr/bin/time -v "$DBFREPAIR" repair "$TABLE" -o "$WORK/out" --quiet 2>&1 >/dev/null \
    | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }')
  [ -f "$WORK/out/Rep_1_$(basename "$TABLE")" ] || { echo "compare.sh: the repair saved no table" >&2; exit 1; }

  local M_CP M_REPAIR MB
  M_CP=$(median "${T_CP[@]}")
  M_REPAIR=$(median "${T_REPAIR[@]}")
  MB=$(echo "$BYTES / 1048576" | bc -l)
  printf 'Table: %s (%.1f MB with its memo file, %s runs; dbfread %s run(s))\n' "$TABLE" "$MB" "$RUNS" "$DBFREAD_RUNS"
  printf '%-22s %10s %10s %12s\n' "tool" "median s" "x cp" "MB/s"
  line() { printf '%-22s %10.3f %10.2f %12.1f\n' "$1" "$2" "$(echo "$2 / $M_CP" | bc -l)" "$(echo "$MB / $2" | bc -l)"; }
  line "cp" "$M_CP"
  line "cp, flushed to disk" "$(median "${T_CP_SYNC[@]}")"
  line "dbfrepair repair" "$M_REPAIR"
  [ "$HAVE_PGDBF" = 1 ] && line "pgdbf" "$(median "${T_PGDBF[@]}")"
  [ "$DBFREAD_RUNS" -gt 0 ] && line "python3-dbfread" "$(median "${T_DBFREAD[@]}")"
  printf 'dbfrepair repair peak memory: %s KB\n' "$PEAK_KB"
  printf 'all times: cp %s | cp flushed %s | repair %s | pgdbf %s | dbfread %s\n\n' "${T_CP[*]}" "${T_CP_SYNC[*]}" "${T_REPAIR[*]}" "${T_PGDBF[*]:-}" "${T_DBFREAD[*]:-}"
}

bench_table "$PLAIN" ""
bench_table "$MEMO" "${MEMO%.dbf}.fpt"
