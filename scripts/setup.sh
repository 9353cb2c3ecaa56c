#!/usr/bin/env bash
# Installs the Debian packages the project needs and registers the ODBC driver "Norvane".
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev
  qt6-base-dev
  mdbtools mdbtools-dev
  unixodbc unixodbc-dev odbcinst libsqliteodbc
  libsqlite3-dev sqlite3
  man-db
  xvfb openbox x11-utils xdotool imagemagick
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The Norvane ODBC driver is the SQLite 3 ODBC driver under the product's name.
if ! odbcinst -q -d -n Norvane >/dev/null 2>&1; then
  driver=$(find /usr/lib -name 'libsqlite3odbc.so' -print -quit)
  tmp=$(mktemp)
  printf '[Norvane]\nDescription=Norvane database file (SQLite 3)\nDriver=%s\nSetup=%s\n' \
    "$driver" "$driver" >"$tmp"
  as_root odbcinst -i -d -f "$tmp" >/dev/null
  rm -f "$tmp"
  echo "setup: registered ODBC driver Norvane -> $driver"
fi
