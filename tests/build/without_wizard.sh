#!/usr/bin/env bash
# The core and norvane-migrate build and pass their tests with the wizard switched off: nothing
# of the core or the console program needs Qt.
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$src" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNORVANE_WIZARD=OFF >"$work/configure.log" ||
  { cat "$work/configure.log"; exit 1; }
if grep -q 'Qt6' "$work/CMakeCache.txt"; then
  echo "the configure without the wizard looked for Qt"
  exit 1
fi
cmake --build "$work" --parallel "$(nproc)" --target norvane-migrate norvane_odbc_driver \
  console_tests engine_tests options_tests target_tests >"$work/build.log" ||
  { tail -50 "$work/build.log"; exit 1; }
# This build's own driver, as ctest would give it.
export ODBCSYSINI="$work/odbc"
"$work/tests/migrate/console_tests" --gtest_brief=1
"$work/tests/engine/engine_tests" --gtest_brief=1 --gtest_filter='Flow.*:Run.*'
"$work/bin/norvane-migrate" --help >/dev/null
