#!/usr/bin/env bash
# Benchmark of the table transfer: builds a Release engine, then times on the 1,000,000-row file
# and on nwind.mdb (a) the mdbtools pipeline into sqlite3, (b) the engine's transfer and (c) the
# bare ODBC write ceiling on the same rows; prints rows/s, ratios and peak memory.
# Then the whole migration (norvane-migrate: create, transfer, keys, time columns, foreign keys,
# check) against the pipeline on keyed500k.mdb and nwind.mdb, taking turns over three rounds
# (FLOW_ROUNDS) whose medians are compared, with the ratios and the
# peak memory of every process, and the flow again on a tenth of keyed500k.mdb's rows for the
# peak memory at 10 % and 100 %, and the check after alone on what each run made (tables read
# whole against long tables in shared row-id ranges). ONLY_FLOW=1 skips the transfer part. Every figure comes with the
# machine's load average: the goals are for a quiet machine.
# First, on keyed500k.mdb and big1m.mdb: the Norvane driver with parameter arrays against SQLite's
# C API (a statement prepared once, 1 and 64 rows per statement) on the same rows, with the ratio
# driver / C API (goal: at least 80 %), and the engine's whole transfer of each file.
# ONLY_DRIVER=1 stops after that part.
# At the end, the goals: pipeline / norvane-migrate on keyed500k.mdb (at least 1.5), big1m.mdb's
# transfer / the pipeline's copy (at least 4), every process under 64 MiB.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
shared=${SHARED_DIR:-$repo/../shared}
build=$repo/build/release
# -O2: GCC 12 at -O3 reports false -Wrestrict warnings on std::string code.
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DNORVANE_BENCH=ON >/dev/null
cmake --build "$build" --target norvane-migrate ivex vorlin cmdshell bench_transfer bench_driver \
  bench_check bench_flow cut_rows norvane_odbc_driver -j2 >/dev/null
# This build's ODBC driver, never one the machine registered.
export ODBCSYSINI=$build/odbc
bench=$build/bench
work=$(mktemp -d "${TMPDIR:-/tmp}/norvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$repo/tests/data/nwind.mdb" "$work/nwind.mdb"
load() { cut -d' ' -f1-3 /proc/loadavg; }

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
  out=$("$bench/bench_transfer" "$file" "$work" ${table:+"$table"})
  rows=$(awk '/^rows/{print $2}' <<<"$out")
  es=$(awk '/^engine_seconds/{print $2}' <<<"$out")
  cs=$(awk '/^ceiling_seconds/{print $2}' <<<"$out")
  first=$(awk '/^peak_kb_first_tenth/{print $2}' <<<"$out")
  whole=$(awk '/^peak_kb_whole/{print $2}' <<<"$out")
  printf '%s: %s rows (the pipeline stored %s)\n' "$name" "$rows" "$(cat "$work/pipeline_rows")"
  printf '  pipeline (mdb-schema + mdb-export | sqlite3) %10.0f rows/s\n' "$(echo "$rows / $p" | bc -l)"
  printf '  engine transfer                              %10.0f rows/s\n' "$(echo "$rows / $es" | bc -l)"
  printf '  ODBC ceiling (bare prepared insert)          %10.0f rows/s\n' "$(echo "$rows / $cs" | bc -l)"
  report_ratio=$(echo "$p / $es" | bc -l)
  printf '  engine / pipeline %.2f   engine / ceiling %.0f %%\n' "$report_ratio" \
    "$(echo "100 * $cs / $es" | bc -l)"
  printf '  peak memory (engine + reader): first tenth of the rows %s MiB, all rows %s MiB\n' \
    "$((first / 1024))" "$((whole / 1024))"
}

driver() {  # name file: the driver against the C API on the file's rows, and the whole transfer
  local name=$1 file=$2 out rows ts ds c1 c64
  echo "load before: $(load)"
  out=$("$bench/bench_driver" "$file" "$work")
  rows=$(value rows "$out") ts=$(value transfer_seconds "$out") ds=$(value driver_seconds "$out")
  c1=$(value capi1_seconds "$out") c64=$(value capi64_seconds "$out")
  printf '%s: %s rows (the transfer stored %s)\n' "$name" "$rows" "$(value transfer_rows "$out")"
  printf '  whole transfer (engine, reader and driver)          %6.2f s %10.0f rows/s\n' "$ts" \
    "$(echo "$rows / $ts" | bc -l)"
  printf '  Norvane driver, parameter arrays of 1024 rows        %6.2f s %10.0f rows/s\n' "$ds" \
    "$(echo "$rows / $ds" | bc -l)"
  printf '  SQLite C API, prepared once, 1 row per statement     %6.2f s %10.0f rows/s\n' "$c1" \
    "$(echo "$rows / $c1" | bc -l)"
  printf '  SQLite C API, prepared once, 64 rows per statement   %6.2f s %10.0f rows/s\n' "$c64" \
    "$(echo "$rows / $c64" | bc -l)"
  printf '  driver / C API: %.0f %% of 1 row per statement, %.0f %% of 64 rows per statement (goal 80 %%)\n' \
    "$(echo "100 * $c1 / $ds" | bc -l)" "$(echo "100 * $c64 / $ds" | bc -l)"
  echo "load after: $(load)"
}

value() { awk -v k="$1" '$1 == k {print $2}' <<<"$2"; }

if [[ -z ${ONLY_FLOW:-} ]]; then
  xz -dkc "$shared/bench/keyed500k.mdb.xz" >"$work/keyed500k.mdb"
  driver "keyed500k.mdb" "$work/keyed500k.mdb"
  rm -f "$work/keyed500k.mdb"
  xz -dkc "$shared/bench/big1m.mdb.xz" >"$work/big1m.mdb"
  driver "big1m.mdb" "$work/big1m.mdb"
  rm -f "$work/big1m.mdb"
  [[ -z ${ONLY_DRIVER:-} ]] || exit 0
fi

if [[ -z ${ONLY_FLOW:-} ]]; then
  xz -dkc "$shared/bench/big1m.mdb.xz" >"$work/big1m.mdb"
  echo "load before: $(load)"
  report "big1m.mdb BigTable" "$work/big1m.mdb" BigTable
  big_ratio=$report_ratio
  report "nwind.mdb (all user tables)" "$work/nwind.mdb"
  rm -f "$work/big1m.mdb"
fi

# The pipeline as one command for bench_flow: the schema, then every table inside BEGIN/COMMIT.
cat >"$work/pipeline.sh" <<'EOF'
file=$1 out=$2
mdb-schema "$file" sqlite 2>/dev/null | sqlite3 "$out"
mdb-tables -1 "$file" | while IFS= read -r table; do
  { echo "BEGIN;"; mdb-export -I sqlite "$file" "$table"; echo "COMMIT;"; } | sqlite3 "$out" 2>/dev/null || true
done
EOF

phase() { awk -v k="$1" '$1 == "phase" && $2 == k {print $3}' <<<"$2"; }
mib() { echo $(($(value "$1" "$2") / 1024)); }

median() { tr ' ' '\n' <<<"$*" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

flow() {  # name file: the pipeline and the whole flow on fresh copies of the file, taking turns
  local name=$1 file=$2 dir=$work/flow p f round pipelines="" flows="" runs=() pruns=()
  local copy=$dir/$(basename "$file")
  echo "load before: $(load)"
  # FLOW_ROUNDS rounds (3 unless given): the medians of each side are compared, and the flow's
  # phases and memory are those of its median round.
  for ((round = 0; round < ${FLOW_ROUNDS:-3}; round++)); do
    rm -rf "$dir" && mkdir -p "$dir" && cp "$file" "$dir/"
    p=$("$bench/bench_flow" bash "$work/pipeline.sh" "$copy" "$dir/pipeline.db" 2>&1 >/dev/null)
    f=$("$bench/bench_flow" "$build/bin/norvane-migrate" --verbose --access "$copy" 2>&1 >/dev/null)
    pipelines+=" $(value seconds "$p")" flows+=" $(value seconds "$f")" runs+=("$f") pruns+=("$p")
  done
  echo "load after: $(load)"
  local ps fs tr rl
  ps=$(median $pipelines) fs=$(median $flows)
  for f in "${runs[@]}"; do [[ $(value seconds "$f") != "$fs" ]] || break; done
  for p in "${pruns[@]}"; do [[ $(value seconds "$p") != "$ps" ]] || break; done
  tr=$(phase transfer "$f") rl=$(phase reload "$f")
  printf '%s, the whole flow\n' "$name"
  printf '  rounds: pipeline%s s; norvane-migrate%s s (medians below)\n' "$pipelines" "$flows"
  [[ $(value status "$f") == 0 ]] || printf '  norvane-migrate did NOT check out (exit status %s)\n' "$(value status "$f")"
  printf '  pipeline (mdb-schema | sqlite3, mdb-export per table)  %6.2f s (processor %.2f s)\n' \
    "$ps" "$(value cpu_seconds "$p")"
  printf '  norvane-migrate                                        %6.2f s (processor %.2f s)\n' \
    "$fs" "$(value cpu_seconds "$f")"
  printf '    check before %.2f, create %.2f, connect %.2f, transfer %.2f, indexes %.2f,\n' \
    "$(phase before "$f")" "$(phase create "$f")" "$(phase connect "$f")" "$tr" "$(phase index "$f")"
  printf '    reload.bat (keys, time columns, foreign keys) %.2f, properties and check after %.2f\n' \
    "$rl" "$(phase check "$f")"
  printf '  pipeline / norvane-migrate %.2f   reload / transfer %.2f\n' \
    "$(echo "$ps / $fs" | bc -l)" "$(echo "$rl / $tr" | bc -l)"
  printf '  peak memory, largest process of the flow: first tenth of the run %d MiB, whole run %d MiB; per process:' \
    "$(mib peak_kb_first_tenth "$f")" "$(mib peak_kb_whole "$f")"
  flow_peaks=$(awk '$1 == "peak_kb" && $2 != "bench_flow" {printf " %s %d", $2, $3 / 1024}' <<<"$f")
  printf '%s MiB\n  peak memory, largest process of the pipeline: first tenth %d MiB, whole run %d MiB\n' \
    "$flow_peaks" "$(mib peak_kb_first_tenth "$p")" "$(mib peak_kb_whole "$p")"
  flow_peak_kb=$(value peak_kb_whole "$f")
  flow_ratio=$(echo "$ps / $fs" | bc -l)
  # The check after alone on what the run made: each table on one connection, or long tables in
  # row-id ranges that the two connections share.
  local c
  c=$("$bench/bench_check" "$copy" "${copy%.*}.db" 2 || true)
  printf '  check after alone (target sides): tables whole %.2f s (processor %.2f), in shared ranges %.2f s (processor %.2f)%s\n' \
    "$(value whole_seconds "$c")" "$(value whole_cpu "$c")" "$(value ranges_seconds "$c")" \
    "$(value ranges_cpu "$c")" "$([[ $(value equal "$c") == 1 ]] || echo ', NOT the same checks')"
  rm -rf "$dir"
}

goal() {  # value goal: "met" when value >= goal
  if (($(echo "$1 >= $2" | bc -l))); then echo met; else echo "NOT met"; fi
}

xz -dkc "$shared/bench/keyed500k.mdb.xz" >"$work/keyed500k.mdb"
flow "keyed500k.mdb (1,550,000 rows)" "$work/keyed500k.mdb"
whole_kb=$flow_peak_kb whole_peaks=$flow_peaks keyed_ratio=$flow_ratio
# The same file cut to a tenth of its rows (bench/cut_rows.cpp): memory at 10 % and 100 %.
"$bench/cut_rows" "$work/keyed500k.mdb" "$work/keyed50k.mdb" >/dev/null
rm -f "$work/keyed500k.mdb"
flow "keyed50k.mdb, keyed500k.mdb cut to a tenth (155,000 rows)" "$work/keyed50k.mdb"
printf 'peak memory of the flow at 10 %% and 100 %% of the rows: %d and %d MiB\n' \
  "$((flow_peak_kb / 1024))" "$((whole_kb / 1024))"
printf '  per process, at 10 %%:%s MiB\n  per process, at 100 %%:%s MiB\n' "$flow_peaks" "$whole_peaks"
rm -f "$work/keyed50k.mdb"
flow "nwind.mdb (4,032 rows)" "$work/nwind.mdb"

echo "Goals (load now: $(load)):"
printf '  pipeline / norvane-migrate on keyed500k.mdb %.2f (goal at least 1.5): %s\n' \
  "$keyed_ratio" "$(goal "$keyed_ratio" 1.5)"
if [[ -n ${big_ratio:-} ]]; then
  printf '  big1m.mdb: transfer / the pipeline'"'"'s copy %.2f (goal at least 4): %s\n' \
    "$big_ratio" "$(goal "$big_ratio" 4)"
fi
over=$(awk '{for (i = 3; i <= NF; i += 2) if ($i >= 64) print $(i - 1)}' <<<"x$whole_peaks")
printf '  every process under 64 MiB: %s\n' "$([[ -z $over ]] && echo met || echo "NOT met ($over)")"
