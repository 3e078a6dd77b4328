#!/usr/bin/env bash
# Makes docs/composer.png with the program itself: a real window zoomed twice on a virtual X
# server, a short recording of the demo signal, then M. The picture is the window, cut from
# the X server's screen.
#   scripts/make-composer-screenshot.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
out=${2:-$root/docs}
work=$(mktemp -d "${TMPDIR:-/tmp}/fm-composer.XXXXXX")
display=:$((90 + RANDOM % 100))
xvfb=
program=
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out" "$work/docs"

Xvfb "$display" -screen 0 800x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
# Any sendmail will do: the picture is taken before Send.
DISPLAY=$display SENDMAIL=/bin/true XDG_RUNTIME_DIR=$work "$build/app/fieldmeter" --scale 2 \
  --input demo --documents "$work/docs" --duration 20 >/dev/null 2>&1 &
program=$!
sleep 3
for key in space r; do DISPLAY=$display xdotool key "$key"; sleep 1; done
sleep 2
for key in r m; do DISPLAY=$display xdotool key "$key"; sleep 1; done
DISPLAY=$display import -window root -crop 640x960+0+0 +repage "$out/composer.png"
echo "$out/composer.png"
