#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed programs from elsewhere.
#   install_test.sh <build dir> <test data dir>
set -euo pipefail
build=$1 data=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$root/dest" cmake --install "$build" --prefix /opt/norvane >/dev/null
prefix="$root/dest/opt/norvane"
for f in bin/norvane-migrate bin/norvane-wizard bin/cmdshell lib/norvane/norvane-wizard \
         lib/norvane/cmdshell lib/norvane/win32/ivex.exe lib/norvane/win32/ivexw.exe \
         lib/norvane/win32/vorlin.exe lib/norvane/win32/vorlinw.exe share/norvane/Migrate.hlp \
         share/applications/norvane-wizard.desktop \
         share/icons/hicolor/scalable/apps/norvane-wizard.svg \
         share/man/man1/norvane-migrate.1.gz share/man/man1/cmdshell.1.gz \
         share/man/man1/vorlin.1.gz share/man/man1/ivex.1.gz share/man/man7/norvane-odbc.7.gz \
         share/doc/norvane-migration-wizard/copyright \
         share/doc/norvane-migration-wizard/changelog.gz lib/norvane/register-odbc-driver; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
driver=$(ls "$prefix"/lib/*/odbc/libnorvaneodbc.so 2>/dev/null | head -n 1)
[ -n "$driver" ] || fail "the ODBC driver is not installed in lib/<triplet>/odbc"
[ -x "$prefix/lib/norvane/cmdshell" ] || fail "cmdshell is not reachable beside the wizard"
grep -q '^Exec=norvane-wizard %f$' "$prefix/share/applications/norvane-wizard.desktop" \
  || fail "the desktop entry does not start norvane-wizard with the file"
grep -q '^MimeType=application/x-msaccess;application/vnd.ms-access;$' \
  "$prefix/share/applications/norvane-wizard.desktop" \
  || fail "the desktop entry does not declare the Access file types"
for page in "$prefix"/share/man/man1/*.1.gz "$prefix"/share/man/man7/*.7.gz; do
  out=$(man -l "$page" 2>&1 >/dev/null) && [ -z "$out" ] || fail "manual page $page: $out"
done
for tool in bin/norvane-migrate bin/cmdshell lib/norvane/win32/ivex.exe lib/norvane/win32/vorlin.exe; do
  "$prefix/$tool" --help | grep -q Usage || fail "$tool --help says no usage"
done

# The installed console program on the sample, from a folder outside the prefix, with the
# tools it finds beside itself and the installed driver, registered by the installed script in
# a driver list of its own.
export ODBCSYSINI="$root/sysini"
mkdir "$ODBCSYSINI"
: >"$ODBCSYSINI/odbc.ini"
"$prefix/lib/norvane/register-odbc-driver" "$driver" >/dev/null || fail "the driver was not registered"
mkdir -p "$root/work/Sample Data" "$root/elsewhere"
cp "$data/nwind.mdb" "$root/work/Sample Data/"
cd "$root/elsewhere"
"$prefix/bin/norvane-migrate" --access "$root/work/Sample Data/nwind.mdb" --link >"$root/log" 2>&1 \
  || { cat "$root/log"; fail "the installed norvane-migrate failed"; }
grep -q "everything checked out" "$root/log" || fail "no clean report"
# The command files' output, in the log the report names.
commands="$root/work/Sample Data/nwind.mdb.norvane-migrate.log"
grep -qF "The command files' output is in $commands." "$root/log" || fail "the report names no log"
grep -qF 'lib\norvane\win32\' "$commands" || fail "the installed tools were not used"
[ -f "$root/work/Sample Data/nwind.db" ] || fail "no database file"
[ ! -e "$root/work/Sample Data/reload.bat" ] || fail "work files left behind"
echo "install test passed"
