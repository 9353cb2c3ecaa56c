#!/usr/bin/env bash
# The server's own client tools (postgresql-client) against a private server started from a
# shell, as the command files that create a PostgreSQL database will use them: createdb, psql
# with a script file and dropdb, the password from PGPASSWORD only. Then the server is left for
# the watcher, which must remove it once this shell's child that started it has ended.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fixture=$here/../../support/private_postgres.py
fail() { echo "FAILED: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A shell of its own owns the server; it exits once the tools have run.
bash -c '
  set -euo pipefail
  while IFS="=" read -r key value; do export "$key=$value"; done < <(
    python3 "$1" start --owner $$)
  echo "$NORVANE_PG_DIR" >"$2/folder"
  echo "$NORVANE_PG_BINDIR" >"$2/bindir"
  # createdb and psql through the socket, then through the loopback port.
  createdb "Umsätze 2024"
  printf "%s\n" "CREATE TABLE t (a integer);" "INSERT INTO t VALUES (1), (2);" >"$2/script.sql"
  psql -X -q -v ON_ERROR_STOP=1 -d "Umsätze 2024" -f "$2/script.sql"
  PGHOST=$NORVANE_PG_TCP_HOST psql -X -At -d "Umsätze 2024" -c "SELECT sum(a) FROM t" >"$2/sum"
  # An existing database is refused, and the server says so.
  if createdb "Umsätze 2024" 2>"$2/again"; then echo "created twice" >"$2/sum"; fi
  dropdb "Umsätze 2024"
  psql -X -At -c "SELECT count(*) FROM pg_database WHERE datname = '\''Umsätze 2024'\''" >"$2/left"
  # Without the password nothing logs in.
  if env -u PGPASSWORD HOME=/nonexistent psql -X -c "SELECT 1" 2>"$2/refused"; then
    echo "logged in without a password" >"$2/left"
  fi
' client-tools "$fixture" "$work"

[ "$(cat "$work/sum")" = 3 ] || fail "psql read back '$(cat "$work/sum")', not 3"
grep -q "already exists" "$work/again" || fail "a second createdb: $(cat "$work/again")"
[ "$(cat "$work/left")" = 0 ] || fail "after dropdb: $(cat "$work/left")"
grep -q "no password supplied" "$work/refused" || fail "without a password: $(cat "$work/refused")"

folder=$(cat "$work/folder")
for _ in $(seq 1 300); do
  [ -e "$folder" ] || break
  sleep 0.1
done
[ ! -e "$folder" ] || fail "the server's folder $folder is still there after its owner ended"
if pgrep -f -- "-D $folder/data" >/dev/null; then fail "the server of $folder still runs"; fi
echo "client tools: passed"
