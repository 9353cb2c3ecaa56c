#!/usr/bin/env bash
# Benchmark of the table transfer: builds a Release engine, then times on the 1,000,000-row file
# and on nwind.mdb (a) the mdbtools pipeline into sqlite3, (b) the engine's transfer and (c) the
# bare ODBC write ceiling on the same rows; prints rows/s, ratios and peak memory.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
shared=${SHARED_DIR:-$repo/../shared}
build=$repo/build/release
# -O2: GCC 12 at -O3 reports false -Wrestrict warnings on std::string code.
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cmake --build "$build" --target norvane_access -j2 >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/norvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
c++ -std=c++20 -O2 -I"$repo" "$repo/bench/bench_transfer.cpp" \
  "$build/platform/access/libnorvane_access.a" "$build/platform/odbc/libnorvane_odbc.a" \
  "$build/platform/libnorvane_platform.a" $(pkg-config --cflags --libs libmdb odbc sqlite3) \
  -lpthread -o "$work/bench_transfer"
xz -dkc "$shared/bench/big1m.mdb.xz" >"$work/big1m.mdb"
cp "$repo/tests/data/nwind.mdb" "$work/nwind.mdb"

now() { date +%s.%N; }

pipeline() {  # file -> seconds for schema + every table inside BEGIN/COMMIT
  local file=$1 out=$work/pipeline.db t0 t1
  rm -f "$out"
  t0=$(now)
  mdb-schema "$file" sqlite 2>/dev/null | sqlite3 "$out"
  mdb-tables -1 "$file" | while IFS= read -r table; do
    { echo "BEGIN;"; mdb-export -I sqlite "$file" "$table"; echo "COMMIT;"; } | sqlite3 "$out" \
      2>/dev/null || true  # the pipeline breaks on some binary values; count what it stored
  done
  t1=$(now)
  echo "$t1 - $t0" | bc -l
  pipeline_rows=0
  while IFS= read -r table; do
    pipeline_rows=$((pipeline_rows + $(sqlite3 "$out" "SELECT count(*) FROM \"$table\"")))
  done < <(sqlite3 "$out" "SELECT name FROM sqlite_master WHERE type = 'table'")
  echo "$pipeline_rows" >"$work/pipeline_rows"
}

report() {  # name file [table]
  local name=$1 file=$2 table=${3:-}
  local p out rows es cs first whole
  p=$(pipeline "$file")
  out=$("$work/bench_transfer" "$file" "$work" ${table:+"$table"})
  rows=$(awk '/^rows/{print $2}' <<<"$out")
  es=$(awk '/^engine_seconds/{print $2}' <<<"$out")
  cs=$(awk '/^ceiling_seconds/{print $2}' <<<"$out")
  first=$(awk '/^peak_kb_first_tenth/{print $2}' <<<"$out")
  whole=$(awk '/^peak_kb_whole/{print $2}' <<<"$out")
  printf '%s: %s rows (the pipeline stored %s)\n' "$name" "$rows" "$(cat "$work/pipeline_rows")"
  printf '  pipeline (mdb-schema + mdb-export | sqlite3) %10.0f rows/s\n' "$(echo "$rows / $p" | bc -l)"
  printf '  engine transfer                              %10.0f rows/s\n' "$(echo "$rows / $es" | bc -l)"
  printf '  ODBC ceiling (bare prepared insert)          %10.0f rows/s\n' "$(echo "$rows / $cs" | bc -l)"
  printf '  engine / pipeline %.2f   engine / ceiling %.0f %%\n' "$(echo "$p / $es" | bc -l)" \
    "$(echo "100 * $cs / $es" | bc -l)"
  printf '  peak memory (engine + reader): first tenth of the rows %s MiB, all rows %s MiB\n' \
    "$((first / 1024))" "$((whole / 1024))"
}

report "big1m.mdb BigTable" "$work/big1m.mdb" BigTable
report "nwind.mdb (all user tables)" "$work/nwind.mdb"
