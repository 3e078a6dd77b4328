#!/usr/bin/env bash
# Starts a private victoria-metrics on 127.0.0.1 with its data in DIR, and prints its process id;
# the port is in DIR/port. Started again in the same DIR it listens on the same port with the
# same data. Samples are searchable at once (no latency offset). Exits with 77 when it could not
# be started.
#   start-victoria-metrics.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
dir=$1
mkdir -p "$dir/data"
dir=$(cd "$dir" && pwd)
if [ -s "$dir/port" ]; then
  port=$(cat "$dir/port")
else
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  echo "$port" >"$dir/port"
fi

victoria-metrics -storageDataPath "$dir/data" -httpListenAddr "127.0.0.1:$port" \
  -search.latencyOffset 0s </dev/null >>"$dir/victoria-metrics.log" 2>&1 &
pid=$!
echo "$pid" >"$dir/pid"
trap 'kill "$pid" 2>/dev/null || true' ERR

for _ in $(seq 300); do
  if curl -sf "http://127.0.0.1:$port/health" >/dev/null 2>&1; then
    echo "$pid"
    exit 0
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
echo "start-victoria-metrics: the store did not start; its log:" >&2
tail -n 30 "$dir/victoria-metrics.log" >&2 2>/dev/null || true
kill "$pid" 2>/dev/null || true
exit 77
