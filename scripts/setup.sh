#!/usr/bin/env bash
# Installs the Debian packages the project needs. Idempotent: when everything is present it only
# checks and returns. The ODBC driver "Norvane" is built here: scripts/register_driver.sh
# registers a built one (scripts/demo.sh does), the tests use the build's own registration.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev
  qt6-base-dev
  mdbtools mdbtools-dev
  unixodbc unixodbc-dev odbcinst python3-pyodbc
  libsqlite3-dev sqlite3
  postgresql postgresql-client odbc-postgresql libpq-dev
  man-db
  xvfb openbox x11-utils xdotool imagemagick lintian
  git openjdk-17-jdk-headless libcommons-lang3-java libcommons-logging-java
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

