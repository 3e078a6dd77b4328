#!/usr/bin/env bash
# Runs CMD... beside a private PulseAudio server whose default source is a FIFO:
#   with-sound-server.sh CMD [ARGS...]
# CMD sees PULSE_SERVER (the private server), FM_TEST_FIFO (write s16le mono 44,100 Hz
# samples there and they arrive as captured audio) and FM_SOUND_SERVER_PID (the server's
# process id, for tests of a server that dies). The server runs in a private folder, so
# several can run at once, and is stopped by its own process id when CMD ends. Exits with
# CMD's status, or 77 when no server could be started.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 CMD [ARGS...]" >&2; exit 2; }

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

mkdir -p "$dir/runtime" "$dir/state" "$dir/home"
chmod 700 "$dir/runtime"
fifo=$dir/capture.fifo
# module-pipe-source makes the FIFO itself.

export PULSE_RUNTIME_PATH=$dir/runtime PULSE_STATE_PATH=$dir/state
server="unix:$dir/runtime/native"

# No daemonising: the server's own pid is $!. No autospawn, no other client config.
env HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home" \
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --log-target=file:"$dir/pulse.log" \
    --load="module-native-protocol-unix socket=$dir/runtime/native auth-anonymous=1" \
    >/dev/null 2>&1 &
pid=$!

ready=""
for _ in $(seq 100); do
  if PULSE_SERVER=$server timeout 5 pactl info >/dev/null 2>&1; then ready=1; break; fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$ready" ]; then
  echo "with-sound-server: PulseAudio did not start; its log:" >&2
  cat "$dir/pulse.log" >&2 2>/dev/null || true
  exit 77
fi

# RtAudio 5.2 reads the server's default sink name without checking it exists: give it a sink.
PULSE_SERVER=$server timeout 10 pactl load-module module-null-sink sink_name=fieldmeter_out >/dev/null
PULSE_SERVER=$server timeout 10 pactl set-default-sink fieldmeter_out
PULSE_SERVER=$server timeout 10 pactl load-module module-pipe-source source_name=fieldmeter_in \
  file="$fifo" format=s16le rate=44100 channels=1 >/dev/null
PULSE_SERVER=$server timeout 10 pactl set-default-source fieldmeter_in

status=0
PULSE_SERVER=$server FM_TEST_FIFO=$fifo FM_SOUND_SERVER_PID=$pid "$@" || status=$?
exit $status
