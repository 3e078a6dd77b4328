#!/usr/bin/env bash
# The same 20-second run in a real window on a private X server (Xvfb), drawn ten times a second
# at scale 2, for comparison with the headless figure: app_window_cpu_percent.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${FM_BUILD_DIR:-$here/../../build/release}
summary=${FM_BENCH_SUMMARY:-}
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "window bench: Xvfb or xdotool missing" >&2; exit 1; }

work=$(mktemp -d)
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY=$display XDG_RUNTIME_DIR=$work
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

start=$(date +%s.%N)
/usr/bin/time -f "%U %S" -o "$work/times" "$build/app/fieldmeter" --input demo --scale 2 \
  --documents "$work/docs" --duration 20 >/dev/null 2>"$work/err" &
app=$!
window=""
for _ in $(seq 100); do
  window=$(xdotool search --name fieldmeter 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.1
done
# Dismiss the cover, then visit every page, as the headless run does.
for key in space Right Right w Left Left w; do
  sleep 2.5
  [ -n "$window" ] && xdotool key --window "$window" "$key" 2>/dev/null || true
done
wait $app
end=$(date +%s.%N)
read -r user system <"$work/times"
line=$(awk -v u="$user" -v s="$system" -v a="$start" -v b="$end" \
  'BEGIN { printf "app_window_cpu_percent %.2f", (u + s) / (b - a) * 100 }')
echo "$line"
[ -z "$summary" ] || echo "$line" >>"$summary"
