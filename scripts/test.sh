#!/usr/bin/env bash
# Installs what is needed, builds with address and undefined-behaviour sanitizers, runs every test.
usage() {
  cat <<'EOF'
Usage: scripts/test.sh [--quick]
  Installs what is needed, builds with the sanitizers and runs every test.
  --quick  runs every test but the long ones (ctest label "soak": damaged copies, kill sweeps,
           install and package); a few minutes.
Environment:
  BUILD_DIR               the build tree (default build/asan)
  NORVANE_DAMAGED_COPIES  how many damaged copies the damaged-copies test makes (default 1000)
  NORVANE_KILL_POINTS     how many write points the kill sweep's sample kills (default 4;
                          the KillSweep test, scripts/kill_sweep.sh --sample)
Each test carries one of the labels unit, adapter, gui, e2e, soak: `ctest -L unit` and the like.
EOF
}
set -euo pipefail
[[ $# -le 1 ]] || { usage >&2; exit 2; }
select=()
case ${1:-} in
  "") ;;
  --quick) select=(-LE soak) ;;
  -h | --help) usage; exit 0 ;;
  *) usage >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
scripts/setup.sh
# Jackcess reads the links back in the tests; without it they say so and skip.
scripts/jackcess.sh || echo "test: Jackcess was not built; the tests that read links with it skip"
build=${BUILD_DIR:-build/asan}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNORVANE_SANITIZE=ON
cmake --build "$build" --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" ${select[@]+"${select[@]}"}
