#!/usr/bin/env bash
# Registers the ODBC driver "Norvane" as the driver library given, in place of any earlier
# registration under that name (an older setup registered the SQLite ODBC driver as "Norvane").
# The list written is odbcinst's: $ODBCSYSINI/odbcinst.ini, else /etc/odbcinst.ini; as root,
# or through sudo when it is not ours to write.
usage() {
  echo "Usage: $(basename "$0") DRIVER"
  echo '  Registers DRIVER (the path of libnorvaneodbc.so) as the ODBC driver "Norvane".'
}
set -euo pipefail
case ${1:-} in
  -h | --help) usage; exit 0 ;;
esac
[[ $# -eq 1 ]] || { usage >&2; exit 2; }
fail() { echo "register_driver: error: $*" >&2; exit 1; }
[ -f "$1" ] || fail "no driver library $1"
driver=$(realpath -- "$1")
list=$(odbcinst -j | sed -n 's/^DRIVERS\.*: *//p')
[ -n "$list" ] || fail "odbcinst does not say where its driver list is"
writable() { [ -w "$1" ] || { [ ! -e "$1" ] && [ -w "$(dirname "$1")" ]; }; }
as_root() {
  if [ "$(id -u)" -eq 0 ] || writable "$list"; then "$@"
  else sudo env ${ODBCSYSINI:+ODBCSYSINI="$ODBCSYSINI"} "$@"; fi
}
registered() { odbcinst -q -d -n Norvane >/dev/null 2>&1; }

# Each -u takes one off the entry's usage count; the entry goes at zero.
for _ in $(seq 100); do
  registered || break
  as_root odbcinst -u -d -n Norvane >/dev/null
done
registered && fail "the earlier registration of Norvane in $list does not go away"
printf '[Norvane]\nDescription=Norvane database file\nDriver=%s\n' "$driver" |
  as_root odbcinst -i -d -r >/dev/null
odbcinst -q -d -n Norvane | grep -qxF "Driver=$driver" ||
  fail "odbcinst did not register Norvane as $driver in $list"
echo "registered ODBC driver Norvane -> $driver"
