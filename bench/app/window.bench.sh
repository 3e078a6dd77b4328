#!/usr/bin/env bash
# The same 20-second run in a real window on a private X server (Xvfb), drawn ten times a second
# at scale 2, beside the windowed floor (bench/floor: the same input, the level, one fixed picture
# of the screen's size ten times a second) on the same server, started together:
#   app_window_cpu_percent, floor_window_cpu_percent  CPU time over wall time, percent of a core,
#                                                      the whole run (start-up included);
#   app_window_steady_cpu_percent, floor_window_steady_cpu_percent
#                                                      the same from 4 s after the start to 1 s
#                                                      before the end, both over the same span;
#   app_window_cpu_vs_floor                            fieldmeter's steady CPU over the floor's:
#                                                      a program left running for a year is
#                                                      judged by what it costs once it runs;
#   app_window_painted_kpx_per_tick                    device pixels the window repainted, in
#                                                      thousands per tenth of a second of its life.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${FM_BUILD_DIR:-$here/../../build/release}
summary=${FM_BENCH_SUMMARY:-}
seconds=20
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "window bench: Xvfb or xdotool missing" >&2; exit 1; }

work=$(mktemp -d)
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY=$display XDG_RUNTIME_DIR=$work
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

/usr/bin/python3 "$here/cpu_time.py" "$work/floor-times" --window 4 $((seconds - 1)) \
  "$build/bench/floor/fieldmeter-floor" \
  --input demo --scale 2 --duration $seconds >/dev/null 2>"$work/floor-err" &
floor=$!
FM_PAINT_STATS=1 /usr/bin/python3 "$here/cpu_time.py" "$work/times" --window 4 $((seconds - 1)) \
  "$build/app/fieldmeter" --input demo \
  --scale 2 --documents "$work/docs" --duration $seconds >/dev/null 2>"$work/err" &
app=$!
window=""
for _ in $(seq 100); do
  # The program's own window, not the floor's ("floor").
  window=$(xdotool search --name '^fieldmeter' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.1
done
# Dismiss the cover, then visit every page, as the headless run does.
for key in space Right Right w Left Left w; do
  sleep 2.5
  [ -n "$window" ] && xdotool key --window "$window" "$key" 2>/dev/null || true
done
app_status=0 floor_status=0
wait $app || app_status=$?
wait $floor || floor_status=$?
if [ $app_status -ne 0 ] || [ $floor_status -ne 0 ]; then
  echo "window bench: fieldmeter exited with $app_status, the floor with $floor_status" >&2
  cat "$work/err" "$work/floor-err" >&2
  exit 1
fi
read -r user system wall steady <"$work/times"
read -r floor_user floor_system floor_wall floor_steady <"$work/floor-times"
# "fieldmeter: painted P device pixels in N paints over S s" (FM_PAINT_STATS)
painted=$(sed -n 's/^fieldmeter: painted \([0-9]*\) device pixels in [0-9]* paints over \([0-9.]*\) s$/\1 \2/p' "$work/err")
lines=$(awk -v u="$user" -v s="$system" -v w="$wall" -v a="$steady" \
  -v fu="$floor_user" -v fs="$floor_system" -v fw="$floor_wall" -v f="$floor_steady" -v p="$painted" '
  BEGIN {
    # Each per second of its own run: they start together, but one may end a little later.
    app = (u + s) / w; floor = (fu + fs) / fw
    printf "app_window_cpu_percent %.2f\n", app * 100
    printf "floor_window_cpu_percent %.2f\n", floor * 100
    if (a != "" && f != "") {
      printf "app_window_steady_cpu_percent %.2f\n", a * 100
      printf "floor_window_steady_cpu_percent %.2f\n", f * 100
      if (f > 0) printf "app_window_cpu_vs_floor %.2f\n", a / f
    }
    split(p, q, " ")
    if (q[2] > 0) printf "app_window_painted_kpx_per_tick %.1f\n", q[1] / (q[2] * 10) / 1000
  }')
echo "$lines"
echo "(fieldmeter: CPU $user + $system s in $wall s; floor: CPU $floor_user + $floor_system s in $floor_wall s)"
[ -z "$summary" ] || echo "$lines" >>"$summary"
