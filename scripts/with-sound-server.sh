#!/usr/bin/env bash
# Runs CMD... beside a private PulseAudio server whose default source is a FIFO:
#   with-sound-server.sh CMD [ARGS...]
# CMD sees PULSE_SERVER (the private server), FM_TEST_FIFO (write s16le mono 44,100 Hz
# samples there and they arrive as captured audio), FM_SOUND_SERVER_PID (the server's process
# id, for tests of a server that dies) and FM_SOUND_SERVER_DIR (its folder, where
# scripts/start-sound-server.sh starts it again). The server runs in a private folder, so
# several can run at once, and is stopped by its own process id when CMD ends. Exits with
# CMD's status, or 77 when no server could be started.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 CMD [ARGS...]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)

dir=$(mktemp -d "${TMPDIR:-/tmp}/fm-pulse.XXXXXX")
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  [ -n "${FM_KEEP_PULSE_DIR:-}" ] || rm -rf "$dir"
}
trap cleanup EXIT INT TERM

pid=$("$here/start-sound-server.sh" "$dir") || exit 77

status=0
PULSE_RUNTIME_PATH=$dir/runtime PULSE_STATE_PATH=$dir/state PULSE_SERVER="unix:$dir/runtime/native" \
  FM_TEST_FIFO=$dir/capture.fifo FM_SOUND_SERVER_PID=$pid FM_SOUND_SERVER_DIR=$dir "$@" || status=$?
exit $status
