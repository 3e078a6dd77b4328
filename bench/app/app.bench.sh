#!/usr/bin/env bash
# The whole program, headless on the demo input for 20 s at real-time pace, visiting each page.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${FM_BUILD_DIR:-$here/../../build/release}
/usr/bin/python3 "$here/app_run.py" "$build/app/fieldmeter" 20 "${FM_BENCH_SUMMARY:-}"
