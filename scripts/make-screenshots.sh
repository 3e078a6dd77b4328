#!/usr/bin/env bash
# Makes the README's pictures with the program itself: headless, zoomed twice, on the demo
# signal, with a replayed turn of the device so the direction ring fills.
#   scripts/make-screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
out=${2:-$root/docs}
work=$(mktemp -d "${TMPDIR:-/tmp}/fm-shots.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# The device turns one way and back: yaw from -pi to pi over 3 s, and back.
/usr/bin/python3 - "$work/turn.csv" <<'PY'
import math, sys
with open(sys.argv[1], "w") as f:
    for i in range(0, 2401):
        t = i * 0.01
        phase = (t % 6.0) / 3.0
        yaw = -math.pi + 2 * math.pi * (phase if phase <= 1 else 2 - phase)
        f.write(f"{t:.2f},-1.0,{max(-math.pi, min(math.pi, yaw)):.5f}\n")
PY

# shot NAME SECONDS KEYS...: runs for SECONDS, sending KEYS one a second from the start, and
# keeps the last picture.
shot() {
  local name=$1 seconds=$2
  shift 2
  local docs=$work/$name
  mkdir -p "$docs"
  {
    for key in "$@"; do echo "$key"; sleep 1; done
    sleep "$seconds"
  } | env -u DISPLAY -u WAYLAND_DISPLAY "$build/app/fieldmeter" --headless --scale 2 \
        --input demo --motion "$work/turn.csv" --documents "$docs" \
        --duration "$seconds" >/dev/null 2>&1 || true
  cp "$docs/screen.png" "$out/$name.png"
  echo "$out/$name.png"
}

shot page-bars 14 Space
shot page-direction 8 Space Right
shot page-colour 17 Space Right Right
