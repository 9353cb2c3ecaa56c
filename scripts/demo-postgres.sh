#!/usr/bin/env bash
# The PostgreSQL target on the bundled sample: builds, starts a private PostgreSQL server for
# this script alone (tests/support/private_postgres.py: a cluster in a temporary folder, a role
# with a random password that only this script's environment holds), copies nwind.mdb into a
# fresh folder whose name holds a blank, migrates it into the server with --link and prints the
# report and a few rows read back with psql. The server is stopped and removed when the script
# ends.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
while IFS='=' read -r key value; do export "$key=$value"; done \
  < <(python3 tests/support/private_postgres.py start --owner $$)
work=$(mktemp -d)/"Sample Data"
mkdir -p "$work"
cp tests/data/nwind.mdb "$work/"
echo "Migrating $work/nwind.mdb into the server on $NORVANE_PG_TCP_HOST port $PGPORT"
status=0
build/release/bin/norvane-migrate --access "$work/nwind.mdb" --link --target postgresql \
  --server "$NORVANE_PG_TCP_HOST" --port "$PGPORT" --user "$PGUSER" || status=$?
psql -w -h "$NORVANE_PG_TCP_HOST" -p "$PGPORT" -U "$PGUSER" -d nwind \
  -c 'SELECT "OrderID", "ProductID", "UnitPrice", "Quantity" FROM "Order_Details" ORDER BY 1, 2 LIMIT 5'
echo "The Access file's backup: $work/nwind.mdb.bak; the server stops when this script ends."
exit "$status"
