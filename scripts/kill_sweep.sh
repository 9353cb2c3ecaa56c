#!/usr/bin/env bash
# Kills whole `norvane-migrate --link` runs at their write points to the Access file and checks,
# with the independent reader mdb-reader, that the file is then as it was before the run or as
# a finished run leaves it, that a second run (--link --overwrite) reaches the finished state, and
# that --restore puts a linked file back.
#
#   scripts/kill_sweep.sh [--every K | --sample] [FILE.mdb ...]   (files from tests/data;
#                                                                  default nwind.mdb edge-jet4.mdb)
# --every K tries every K-th write point (and always both sides of the final rename); --sample
# tries NORVANE_KILL_POINTS points (default 4, at least 3): the first, evenly spaced ones and both
# sides of the rename (4: the first, the middle one and the rename's two). BUILD_DIR (default
# build/asan) is the build tree; NO_BUILD=1 skips building. Exit status 0 when every point held.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/asan}
[[ $build = /* ]] || build=$root/$build
every=1
sample=0
files=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --every) every=$2; shift 2 ;;
    --sample) sample=1; shift ;;
    *) files+=("$1"); shift ;;
  esac
done
[[ ${#files[@]} -gt 0 ]] || files=(nwind.mdb edge-jet4.mdb)
# How many points --sample tries.
sample_points=${NORVANE_KILL_POINTS:-4}
if [[ ! $sample_points =~ ^[0-9]+$ || $sample_points -lt 3 ]]; then
  echo "NORVANE_KILL_POINTS must be a number of at least 3, not '$sample_points'" >&2; exit 2
fi

if [[ ${NO_BUILD:-0} != 1 ]]; then
  cmake --build "$build" --parallel 2 --target norvane-migrate-killed >/dev/null
fi
migrate=$build/tests/killsweep/norvane-migrate-killed
ivex=$build/win32/ivex.exe
node_dir=$build/tests/platform/jetwriter/mdb-reader
if [[ ! -f $node_dir/node_modules/mdb-reader/package.json ]]; then
  mkdir -p "$node_dir"
  npm install --prefix "$node_dir" --no-audit --no-fund --loglevel=error mdb-reader@3.2.0 >/dev/null
fi
cat >"$node_dir/sweep_state.mjs" <<'JS'
import MDBReader from "mdb-reader";
import { readFileSync } from "fs";
const r = new MDBReader(readFileSync(process.argv[2]));
const lines = [];
for (const t of r.getTableNames()) lines.push(`table ${t} ${r.getTable(t).getData().length}`);
for (const o of r.getTable("MSysObjects").getData())
  if (o.Type === 4) lines.push(`link ${o.Name} -> ${o.ForeignName}`);
console.log(lines.sort().join("\n"));
JS
state() { (cd "$node_dir" && node sweep_state.mjs "$1" 2>&1) || echo "unreadable"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
for file in "${files[@]}"; do
  src=$root/tests/data/$file
  before=$(state "$src")
  # A run without a kill: the finished state and the number of write points.
  mkdir "$work/clean"
  cp "$src" "$work/clean/"
  (cd "$work/clean" && "$migrate" --access "$file" --link --ivex "$ivex" >out.txt 2>err.txt) || true
  after=$(state "$work/clean/$file")
  points=$(sed -n 's/^write points: //p' "$work/clean/err.txt")
  rm -rf "$work/clean"
  if [[ -z $points || $after == "$before" ]]; then
    echo "$file: the run without a kill did not link the tables"; failures=$((failures + 1)); continue
  fi
  if [[ $sample == 1 ]]; then
    list=$( (echo 1; for ((i = 1; i <= sample_points - 3; i++)); do
               echo $((i * points / (sample_points - 2))); done
             echo $((points - 1)); echo "$points") | awk '$1 >= 1' | sort -nu)
  else
    list=$( (seq 1 "$every" "$points"; echo $((points - 1)); echo "$points") | sort -nu)
  fi
  tried=0 kept_before=0 reached_after=0 bad=0
  for n in $list; do
    dir=$work/p$n
    mkdir "$dir"
    cp "$src" "$dir/"
    status=0
    (cd "$dir" && NORVANE_KILL_AT=$n "$migrate" --access "$file" --link --ivex "$ivex" \
      >out1.txt 2>&1) 2>/dev/null || status=$?
    now=$(state "$dir/$file")
    tried=$((tried + 1))
    if [[ $status -ne 137 ]]; then
      echo "$file point $n: the run was not killed (exit $status)"; bad=$((bad + 1))
    elif [[ $now == "$before" ]]; then
      kept_before=$((kept_before + 1))
      # Started again, the run reaches the finished state.
      status=0
      (cd "$dir" && "$migrate" --access "$file" --link --overwrite --ivex "$ivex" \
        >out2.txt 2>&1) || status=$?
      if [[ $status -ne 0 || $(state "$dir/$file") != "$after" ]]; then
        echo "$file point $n: the second run ended with $status and state:"
        state "$dir/$file" | head -5; bad=$((bad + 1))
      fi
    elif [[ $now == "$after" ]]; then
      reached_after=$((reached_after + 1))
      # Finished already: a second run must not replace the database the links use (the check
      # before the run stops it, or Create DB refuses without --replace-linked-database).
      status=0
      (cd "$dir" && "$migrate" --access "$file" --link --overwrite --ivex "$ivex" \
        >out2.txt 2>&1) || status=$?
      if [[ $status -eq 0 || $(state "$dir/$file") != "$after" ]] ||
         ! grep -qE "give --replace-linked-database to replace it|already migrated and linked" \
           "$dir/out2.txt"; then
        echo "$file point $n: the second run replaced a database the links use"; bad=$((bad + 1))
      fi
      # Restore undoes it: the run never ended, so its database was never noted and restore
      # asks for --discard-changes first.
      status=0
      (cd "$dir" && "$migrate" --restore "$file" >out3.txt 2>&1) || status=$?
      if [[ $status -eq 0 ]] || ! grep -q "was not noted at the end of the migration" "$dir/out3.txt"; then
        echo "$file point $n: restore removed a database it had not noted"; bad=$((bad + 1))
      fi
      status=0
      (cd "$dir" && "$migrate" --restore "$file" --discard-changes >out3.txt 2>&1) || status=$?
      if [[ $status -ne 0 || $(state "$dir/$file") != "$before" ]]; then
        echo "$file point $n: restore ended with $status:"; head -3 "$dir/out3.txt"; bad=$((bad + 1))
      fi
    else
      echo "$file point $n: neither before nor after:"; echo "$now" | head -5; bad=$((bad + 1))
    fi
    rm -rf "$dir"
  done
  echo "$file: $points write points, $tried tried: $kept_before left the file as before" \
    "(second run finished it), $reached_after as after, $bad wrong"
  failures=$((failures + bad))
done
exit $((failures > 0))
