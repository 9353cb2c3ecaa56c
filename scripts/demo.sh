#!/usr/bin/env bash
# The main job on the bundled sample: installs what is needed, builds, registers the built ODBC
# driver as "Norvane", copies nwind.mdb into a fresh folder whose name holds a blank, migrates it
# with --link and prints the report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
scripts/register_driver.sh build/release/lib/libnorvaneodbc.so
work=$(mktemp -d)/"Sample Data"
mkdir -p "$work"
cp tests/data/nwind.mdb "$work/"
echo "Migrating $work/nwind.mdb"
build/release/bin/norvane-migrate --access "$work/nwind.mdb" --link
echo "The new database: $work/nwind.db (the Access file's backup: $work/nwind.mdb.bak)"
