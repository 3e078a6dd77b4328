#!/usr/bin/env bash
# Makes docs/live-page.png: the live page of the program on the demo signal, turned round for
# a while, as headless Chromium shows it.
#   scripts/make-page-screenshot.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
out=${2:-$root/docs}
mkdir -p "$out"
/usr/bin/python3 "$root/tests/e2e/live_page_test.py" "$build/app/fieldmeter" \
  --screenshot "$out/live-page.png"
echo "$out/live-page.png"
