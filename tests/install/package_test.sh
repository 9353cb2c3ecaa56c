#!/usr/bin/env bash
# Builds the Debian package and checks its files, dependencies and maintainer scripts.
#   package_test.sh <build dir>
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" \
  -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; fail cpack; }
deb=$(ls "$out"/*.deb)
files=$(dpkg-deb -c "$deb")
for f in ./usr/bin/norvane-migrate ./usr/bin/norvane-wizard ./usr/bin/cmdshell \
         ./usr/lib/norvane/win32/ivex.exe ./usr/lib/norvane/win32/vorlinw.exe \
         ./usr/lib/norvane/norvane-wizard ./usr/lib/norvane/cmdshell \
         ./usr/share/norvane/Migrate.hlp ./usr/share/applications/norvane-wizard.desktop \
         ./usr/share/man/man1/norvane-migrate.1.gz ./usr/share/man/man7/norvane-odbc.7.gz \
         ./usr/share/doc/norvane-migration-wizard/copyright \
         ./usr/share/doc/norvane-migration-wizard/changelog.gz \
         ./usr/lib/norvane/register-odbc-driver; do
  grep -q " $f\( \|$\)" <<<"$files" || fail "$f is not in the package"
done
driver=$(grep -o ' \./usr/lib/[^/ ]*-linux-[^/ ]*/odbc/libnorvaneodbc\.so$' <<<"$files" | sed 's/^ \.//') ||
  fail "the ODBC driver is not in /usr/lib/<triplet>/odbc"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libmdb3 libodbc2 libodbcinst2 odbcinst libsqlite3-0; do
  grep -qw "$p" <<<"$depends" || fail "the package does not depend on $p ($depends)"
done
grep -qw libsqliteodbc <<<"$depends" && fail "the package still depends on libsqliteodbc"

# Debian's own checks of a package: no error (warnings and notes are allowed).
command -v lintian >/dev/null || fail "lintian is not installed (scripts/setup.sh installs it)"
lintian --fail-on error --tag-display-limit 0 "$deb" >"$out/lintian.log" 2>&1 ||
  { grep -v '^running with root' "$out/lintian.log" >&2; fail "lintian found errors"; }
# The changelog names the package's version.
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/norvane-migration-wizard/changelog.gz |
  zcat | sed -n 1p | grep -qF "norvane-migration-wizard ($version)" ||
  fail "the changelog's first entry is not version $version"

# The driver's own libraries come from packages the package depends on.
dpkg-deb -x "$deb" "$out/root"
for lib in $(objdump -p "$out/root$driver" | awk '$1 == "NEEDED" && /odbc|sqlite/ {print $2}'); do
  owner=$(dpkg -S "*/$lib" 2>/dev/null | head -n 1 | cut -d: -f1) || true
  [ -n "$owner" ] && grep -qw "$owner" <<<"$depends" ||
    fail "the driver needs $lib (package ${owner:-unknown}), not in Depends ($depends)"
done

# The maintainer scripts, moved into the unpacked tree and run on a driver list of their own
# that holds an older "Norvane" (the SQLite ODBC driver, used three times) beside another driver.
dpkg-deb -e "$deb" "$out/control"
grep -qF "$driver" "$out/control/postinst" || fail "postinst does not register $driver"
export ODBCSYSINI="$out/sysini"
mkdir "$ODBCSYSINI"
stale=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so
printf '[Norvane]\nDriver=%s\nSetup=%s\nUsageCount=3\n\n[Other]\nDriver=/usr/lib/other.so\nUsageCount=1\n' \
  "$stale" "$stale" >"$ODBCSYSINI/odbcinst.ini"
sed "s|/usr/|$out/root/usr/|g" "$out/control/postinst" >"$out/postinst"
sh "$out/postinst" configure >/dev/null || fail "postinst configure failed"
entry=$(odbcinst -q -d -n Norvane) || fail "postinst registered no Norvane"
grep -qxF "Driver=$(realpath "$out/root$driver")" <<<"$entry" || fail "Norvane after postinst: $entry"
# Replaced, not added to: nothing of the old entry is left, and one odbcinst -u removes it.
grep -qF "$stale" <<<"$entry" && fail "the old entry's keys are left: $entry"
grep -qx "UsageCount=1" <<<"$entry" || fail "the old entry's usage count is left: $entry"
sh "$out/control/postrm" remove
odbcinst -q -d -n Norvane >/dev/null 2>&1 || fail "postrm remove took the driver away before purge"
sh "$out/control/postrm" purge
odbcinst -q -d -n Norvane >/dev/null 2>&1 && fail "postrm purge left the driver Norvane"
odbcinst -q -d -n Other >/dev/null 2>&1 || fail "postrm purge took another driver away"
echo "package test passed: $(basename "$deb")"
