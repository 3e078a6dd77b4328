#!/usr/bin/env bash
# The whole program, headless on the demo input for 20 s at real-time pace, visiting each page;
# then fieldmeter-monitor with its outputs and MQTT to a local broker. Each beside the floor (bench/floor), started with it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${FM_BUILD_DIR:-$here/../../build/release}
floor=$build/bench/floor/fieldmeter-floor
/usr/bin/python3 "$here/app_run.py" "$build/app/fieldmeter" "$floor" 20 "${FM_BENCH_SUMMARY:-}"
/usr/bin/python3 "$here/app_run.py" --monitor "$build/monitor/fieldmeter-monitor" "$floor" 20 \
  "${FM_BENCH_SUMMARY:-}"
