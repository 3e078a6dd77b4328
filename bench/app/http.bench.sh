#!/usr/bin/env bash
# The whole program's web server under load: 20 clients on the event stream, then 500
# connections of a slow client, then a crowd of 2,000 trickling connections from 8 addresses.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${FM_BUILD_DIR:-$here/../../build/release}
/usr/bin/python3 "$here/http_load.py" "$build/app/fieldmeter" "${FM_BENCH_SUMMARY:-}"
