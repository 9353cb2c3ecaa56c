#!/usr/bin/env bash
# Runs a program on a private X server (Xvfb, 1024x768) with a window manager (openbox), as a
# desktop user would see it. Exits 77 (skipped) when Xvfb or openbox is missing.
set -euo pipefail
for tool in Xvfb openbox xprop; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done
work=$(mktemp -d)
cleanup() {
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
HOME="$work" openbox >"$work/openbox.log" 2>&1 &
wm=$!
# The window manager is up once it has announced itself on the root window.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
# The xcb platform's own libraries (D-Bus, fontconfig) keep memory until exit.
export LSAN_OPTIONS="suppressions=$(dirname "$0")/xcb_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
QT_QPA_PLATFORM=xcb "$@"
