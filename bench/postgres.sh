#!/usr/bin/env bash
# The transfer into PostgreSQL on keyed500k.mdb (1,550,000 rows): COPY through libpq, binary and
# text, against psqlODBC with parameter arrays, into a private server this script starts (fsync
# on, as a server that keeps its data) and stops. Builds a Release tree first.
# Usage: bench/postgres.sh [file.mdb [odbc table]]   (default: keyed500k.mdb, its largest table)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
shared=${SHARED_DIR:-$repo/../shared}
build=$repo/build/release
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DNORVANE_BENCH=ON >/dev/null
cmake --build "$build" --target bench_postgres norvane_odbc_driver -j2 >/dev/null
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
