#!/usr/bin/env bash
# The page's history view of a whole day in headless Chromium, from picking the day to drawn.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${FM_BUILD_DIR:-$here/../../build/release}
/usr/bin/python3 "$here/history_page_load.py" "$build/app/fieldmeter" "${FM_BENCH_SUMMARY:-}"
