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
         ./usr/share/man/man1/norvane-migrate.1; do
  grep -q " $f\( \|$\)" <<<"$files" || fail "$f is not in the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libmdb3 libodbc2 odbcinst libsqliteodbc libsqlite3-0; do
  grep -qw "$p" <<<"$depends" || fail "the package does not depend on $p ($depends)"
done
dpkg-deb -e "$deb" "$out/control"
grep -q "odbcinst -i -d" "$out/control/postinst" || fail "postinst does not register the driver"
grep -q "odbcinst -u -d -n Norvane" "$out/control/postrm" || fail "postrm does not remove it"
echo "package test passed: $(basename "$deb")"
