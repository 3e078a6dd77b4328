#!/usr/bin/env bash
# Starts a private PulseAudio server in DIR whose default source is a FIFO (DIR/capture.fifo:
# write s16le mono 44,100 Hz samples there and they arrive as captured audio), and prints its
# process id. The server's socket is DIR/runtime/native; starting it again in the same DIR after
# it died gives clients the same server back. Exits with 77 when no server could be started.
#   start-sound-server.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
dir=$1
mkdir -p "$dir/runtime" "$dir/state" "$dir/home"
chmod 700 "$dir/runtime"
rm -f "$dir/runtime/native" "$dir/capture.fifo"  # left behind by a server that was killed
export PULSE_RUNTIME_PATH=$dir/runtime PULSE_STATE_PATH=$dir/state
server="unix:$dir/runtime/native"

# No daemonising: the server's own pid is $!. No autospawn, no other client config.
env HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home" \
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --log-target=file:"$dir/pulse.log" \
    --load="module-native-protocol-unix socket=$dir/runtime/native auth-anonymous=1" \
    </dev/null >/dev/null 2>&1 &
pid=$!
# A server that cannot be set up is not left behind.
trap 'kill "$pid" 2>/dev/null || true' ERR

ready=""
for _ in $(seq 100); do
  if PULSE_SERVER=$server timeout 5 pactl info >/dev/null 2>&1; then ready=1; break; fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$ready" ]; then
  echo "start-sound-server: PulseAudio did not start; its log:" >&2
  cat "$dir/pulse.log" >&2 2>/dev/null || true
  kill "$pid" 2>/dev/null || true
  exit 77
fi

# RtAudio 5.2 reads the server's default sink name without checking it exists: give it a sink.
PULSE_SERVER=$server timeout 10 pactl load-module module-null-sink sink_name=fieldmeter_out >/dev/null
PULSE_SERVER=$server timeout 10 pactl set-default-sink fieldmeter_out
PULSE_SERVER=$server timeout 10 pactl load-module module-pipe-source source_name=fieldmeter_in \
  file="$dir/capture.fifo" format=s16le rate=44100 channels=1 >/dev/null
PULSE_SERVER=$server timeout 10 pactl set-default-source fieldmeter_in
echo "$pid"
