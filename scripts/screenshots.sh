#!/usr/bin/env bash
# Installs the wizard into a temporary prefix, runs it on a private X server (Xvfb, 1024x768)
# with a window manager (openbox), walks through a whole migration of the bundled sample
# modern-dev-V2010.accdb, copied into "~/Documents/Shop Data", with the keyboard (xdotool), and
# writes a picture of the screen at every page, dialog and result
# into docs/screenshots/.
#   BUILD_DIR=build/release scripts/screenshots.sh     (default: build/release, built if missing)
# The wizard runs with a private home: its settings and the data source it registers stay in a
# temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${BUILD_DIR:-build/release}
out="$repo/docs/screenshots"
scripts/setup.sh
[ -x "$build/bin/norvane-wizard" ] || scripts/build.sh

work=$(mktemp -d)
cleanup() {
  [ -n "${wizard:-}" ] && kill "$wizard" 2>/dev/null || true
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
# An .accdb in a folder with a blank in its name, in the user's documents folder.
data="$work/home/Documents/Shop Data"
mkdir -p "$data" "$out"
cp tests/data/modern-dev-V2010.accdb "$data/"
rm -f "$out"/*.png

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" ODBCINI="$work/home/.odbc.ini"
export ASAN_OPTIONS=detect_leaks=0
# The installed driver, registered in a driver list of the run's own.
export ODBCSYSINI="$work/sysini"
mkdir -p "$ODBCSYSINI"
: >"$ODBCSYSINI/odbc.ini"
"$work/prefix/lib/norvane/register-odbc-driver" "$(ls "$work"/prefix/lib/*/odbc/libnorvaneodbc.so)" >/dev/null
openbox >/dev/null 2>&1 &
wm=$!
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
xsetroot -solid '#5a6e82' 2>/dev/null || true

n=0
shot() {  # shot NAME: the whole screen, so that placement shows too
  sleep "${2:-0.8}"
  n=$((n + 1))
  import -window root -colors 256 "$out/$(printf '%02d' "$n")-$1.png"
  echo "screenshots: $(printf '%02d' "$n")-$1.png"
}
window() {  # window TITLE-PATTERN: the id of the visible window, waiting up to 60 s for it
  for _ in $(seq 600); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1) && [ -n "$id" ] &&
      { echo "$id"; return; }
    sleep 0.1
  done
  echo "screenshots: no window \"$1\"" >&2
  exit 1
}
focus() {
  local id
  id=$(window "$1")
  xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
  sleep 0.3
}
key() { xdotool key --clearmodifiers "$@"; }

"$work/prefix/bin/norvane-wizard" >"$work/wizard.log" 2>&1 &
wizard=$!
shot splash 1.2
focus 'Migration Options'
shot options
key space                        # the focus starts on "Transfer and Link Norvane Tables."
shot options-link-ticked 0.3
key Return                       # ">>"
focus 'Select the MS Access DB'
shot source
key Return                       # "Browse ..."
shot source-open-dialog 1.5
xdotool type --delay 15 "Shop Data/modern-dev-V2010.accdb"  # the dialog opens in Documents
key Return
shot source-chosen               # the check's findings about the file
key Return                       # OK
shot source-checked 0.5
key Return                       # ">>"
focus 'Select the Target DB'
shot target                      # Norvane, as chosen at first
key Down                         # "A PostgreSQL DB on a server:": its boxes appear
key Tab
xdotool type --delay 15 "db1.example.org"
key Tab
xdotool type --delay 15 "5432"
key Tab Tab
xdotool type --delay 15 "ann"
shot target-postgresql 0.5
key Return                       # ">>": "Create DB" for the server, past the query tool
focus 'Create a PostgreSQL DataBase'
shot create-db-postgresql
key Tab Tab space                # "<<" (after "Create DB" and "Help")
focus 'Select the Target DB'
key Up                           # back to Norvane: the boxes go
key Return                       # ">>"
focus 'IVEX selection'
key Return                       # "Browse ...": opens in the installed tool folder
shot tool-open-dialog 1.2
xdotool type --delay 15 "ivex.exe"
key Return
shot tool-chosen
key F1
shot help 1.0
focus 'IVEX selection'
key Return                       # ">>"
focus 'Create a Norvane DataBase'
shot create-db
key Return                       # "Create DB"
shot create-db-wait-message 1.0
key Return                       # OK: migrate.bat starts in its window
window '^migrate.bat - ' >/dev/null
shot create-db-command-window 3
focus 'Create a Norvane DataBase'
key Return                       # ">>"
focus 'The final stop'
shot final
key Return                       # "Migrate"
shot migrate-anyway 1.0          # the check's findings again: migrate anyway?
key Return                       # Yes
window '^Select Data Source' >/dev/null
shot data-source-dialog 1.0
key Return                       # "New Norvane database..."
window '^Migration results' >/dev/null
shot results 1.5
key Escape                       # closes the results window
focus 'The final stop'
shot final-finished 0.5
key alt+r                        # "Results" opens the results window again
window '^Migration results' >/dev/null
shot results-again 1.0
key Escape
focus 'The final stop'
key Return                       # "Finish"
for _ in $(seq 100); do kill -0 "$wizard" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$wizard" 2>/dev/null; then
  echo "screenshots: the wizard did not end on Finish" >&2
  exit 1
fi
wizard=
left=$(ls "$data")
echo "screenshots: left in the sample folder: $(echo $left)"
