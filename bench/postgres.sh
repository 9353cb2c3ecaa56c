#!/usr/bin/env bash
# The transfer into PostgreSQL on keyed500k.mdb (1,550,000 rows): COPY through libpq, binary and
# text, against psqlODBC with parameter arrays, into a private server this script starts (fsync
# on, as a server that keeps its data) and stops. Then, in the same run, the whole flow into the
# server (norvane-migrate --target postgresql, its transfer in rows per second) beside the
# mdb-export pipeline into psql and the flow into a Norvane file. Builds a Release tree first.
# Usage: bench/postgres.sh [file.mdb [odbc table]]   (default: keyed500k.mdb, its largest table)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
shared=${SHARED_DIR:-$repo/../shared}
build=$repo/build/release
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DNORVANE_BENCH=ON >/dev/null
cmake --build "$build" --target bench_postgres bench_flow norvane-migrate ivex vorlin cmdshell \
  norvane_odbc_driver -j2 >/dev/null
export ODBCSYSINI=$build/odbc
work=$(mktemp -d "${TMPDIR:-/tmp}/norvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
file=${1:-}
if [ -z "$file" ]; then
  xz -dkc "$shared/bench/keyed500k.mdb.xz" >"$work/keyed500k.mdb"
  file=$work/keyed500k.mdb
fi
# The server's variables, the password among them, stay in this shell's environment.
while IFS='=' read -r key value; do export "$key=$value"; done < <(
  python3 "$repo/tests/support/private_postgres.py" start --owner $$ --durable)
trap 'python3 "$repo/tests/support/private_postgres.py" stop "$NORVANE_PG_DIR"; rm -rf "$work"' EXIT
echo "load $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/bench_postgres" "$file" ${2:+"$2"}
echo "load $(cut -d' ' -f1-3 /proc/loadavg)"

# The whole flow, each on a fresh copy of the file and into a new database.
value() { awk -v k="$1" '$1 == k {print $2}' <<<"$2"; }
phase() { awk -v k="$1" '$1 == "phase" && $2 == k {print $3}' <<<"$2"; }
rows=$(mdb-tables -1 "$file" | while IFS= read -r t; do mdb-export "$file" "$t" | tail -n +2; done | wc -l)
cat >"$work/pipeline.sh" <<'EOF'
file=$1 db=$2
createdb -w "$db" && mdb-schema "$file" postgres 2>/dev/null | psql -X -q -w -d "$db" >/dev/null
mdb-tables -1 "$file" | while IFS= read -r table; do
  { echo "BEGIN;"; mdb-export -I postgres "$file" "$table"; echo "COMMIT;"; } |
    psql -X -q -w -d "$db" >/dev/null 2>&1 || true
done
EOF
copy() {
  rm -rf "$work/flow" && mkdir "$work/flow" && cp "$file" "$work/flow/"
  echo "$work/flow/$(basename "$file")"
}
echo "load before the flows $(cut -d' ' -f1-3 /proc/loadavg)"
p=$("$build/bench/bench_flow" bash "$work/pipeline.sh" "$(copy)" bench_pipeline 2>&1 >/dev/null)
g=$("$build/bench/bench_flow" "$build/bin/norvane-migrate" --verbose --access "$(copy)" \
  --target postgresql --server "$NORVANE_PG_TCP_HOST" --port "$PGPORT" --user "$PGUSER" \
  --database bench_flow 2>&1 >/dev/null)
n=$("$build/bench/bench_flow" "$build/bin/norvane-migrate" --verbose --access "$(copy)" 2>&1 >/dev/null)
echo "load after the flows $(cut -d' ' -f1-3 /proc/loadavg)"
for kind in PostgreSQL Norvane; do
  out=$g && [[ $kind == Norvane ]] && out=$n
  [[ $(value status "$out") == 0 ]] ||
    echo "  norvane-migrate into $kind did NOT check out (exit status $(value status "$out"))"
done
printf 'the whole flow, %d rows\n' "$rows"
printf '  pipeline (mdb-schema | psql, mdb-export -I postgres per table) %7.2f s\n' "$(value seconds "$p")"
printf '  norvane-migrate into PostgreSQL (keys, time columns, foreign keys, checks) %7.2f s\n' \
  "$(value seconds "$g")"
printf '    transfer %.2f s: %.0f rows/s (goal above 300000)\n' "$(phase transfer "$g")" \
  "$(echo "$rows / $(phase transfer "$g")" | bc -l)"
printf '  norvane-migrate into a Norvane file %7.2f s\n' "$(value seconds "$n")"
printf '  pipeline / norvane-migrate into PostgreSQL %.2f\n' \
  "$(echo "$(value seconds "$p") / $(value seconds "$g")" | bc -l)"
