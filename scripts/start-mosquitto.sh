#!/usr/bin/env bash
# Starts a private mosquitto broker on 127.0.0.1 with its persistence in DIR, and prints its
# process id; the port is in DIR/port. Started again in the same DIR (after it was stopped with
# SIGTERM, which saves its sessions), it listens on the same port with the same sessions: a
# restarted broker. Exits with 77 when no broker could be started.
#   start-mosquitto.sh DIR [--tls CAFILE CERTFILE KEYFILE] [--require-certificate]
#                          [--user NAME PASSWORD]
set -euo pipefail
usage() { echo "usage: $0 DIR [--tls CAFILE CERTFILE KEYFILE] [--require-certificate] [--user NAME PASSWORD]" >&2; exit 2; }
[ $# -ge 1 ] || usage
dir=$1; shift
tls=() require="" user="" password=""
while [ $# -gt 0 ]; do
  case "$1" in
    --tls) [ $# -ge 4 ] || usage; tls=("$2" "$3" "$4"); shift 4 ;;
    --require-certificate) require=1; shift ;;
    --user) [ $# -ge 3 ] || usage; user=$2 password=$3; shift 3 ;;
    *) usage ;;
  esac
done
mkdir -p "$dir/data"
dir=$(cd "$dir" && pwd)

if [ -s "$dir/port" ]; then
  port=$(cat "$dir/port")
else
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  echo "$port" >"$dir/port"
fi

conf=$dir/mosquitto.conf
{
  echo "listener $port 127.0.0.1"
  echo "persistence true"
  echo "persistence_location $dir/data/"
  echo "log_dest file $dir/mosquitto.log"
  echo "user root"
  # A subscriber with a persistent session gets every queued message, however many.
  echo "max_queued_messages 0"
  echo "max_inflight_messages 100"
  if [ -n "$user" ]; then
    : >"$dir/passwords"
    mosquitto_passwd -b "$dir/passwords" "$user" "$password"
    echo "allow_anonymous false"
    echo "password_file $dir/passwords"
  else
    echo "allow_anonymous true"
  fi
  if [ ${#tls[@]} -eq 3 ]; then
    echo "cafile ${tls[0]}"
    echo "certfile ${tls[1]}"
    echo "keyfile ${tls[2]}"
    [ -n "$require" ] && echo "require_certificate true"
  fi
} >"$conf"

mosquitto -c "$conf" </dev/null >>"$dir/mosquitto.out" 2>&1 &
pid=$!
echo "$pid" >"$dir/pid"
# A broker that cannot be set up is not left behind.
trap 'kill "$pid" 2>/dev/null || true' ERR

for _ in $(seq 200); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "$pid"
    exit 0
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
echo "start-mosquitto: the broker did not start; its log:" >&2
cat "$dir/mosquitto.out" "$dir/mosquitto.log" >&2 2>/dev/null || true
kill "$pid" 2>/dev/null || true
exit 77
