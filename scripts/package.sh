#!/usr/bin/env bash
# Builds the Debian package from the optimised build: build/release/norvane-migration-wizard_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
(cd build/release && cpack -G DEB >/dev/null)
ls build/release/*.deb
