#!/usr/bin/env bash
# Formats every C++ file of ours with the project's .clang-format (--check: report only).
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files -co --exclude-standard '*.h' '*.cpp')
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run -Werror $files
else
  clang-format -i $files
fi
