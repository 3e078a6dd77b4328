#!/usr/bin/env bash
# Installs the build into a folder of its own, as a packager would, and checks what systemd
# reads there: both units pass systemd-analyze verify, and the installed program accepts the
# installed config file and loads the installed transports module.
set -euo pipefail
build=${1:?usage: installed_units_test.sh BUILD_DIR}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
prefix=$dir/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
unit=$prefix/lib/systemd/system/fieldmeter-monitor.service
for line in "ExecStart=$prefix/bin/fieldmeter-monitor --config $prefix/etc/fieldmeter/monitor.conf" \
            "Type=notify" "WatchdogSec=30" "Restart=on-failure" "StateDirectory=fieldmeter" \
            "NoNewPrivileges=yes" "ProtectSystem=strict" "SupplementaryGroups=audio"; do
  grep -qxF "$line" "$unit" || { echo "$unit lacks: $line" >&2; exit 1; }
done
systemd-analyze verify "$unit"
mkdir -m 700 "$dir/run"
XDG_RUNTIME_DIR=$dir/run systemd-analyze verify --user \
  "$prefix/lib/systemd/user/fieldmeter-monitor.service"
# The shipped config file is one the program takes (it is parsed before --version answers).
ASAN_OPTIONS=detect_leaks=0 "$prefix/bin/fieldmeter-monitor" \
  --config "$prefix/etc/fieldmeter/monitor.conf" --version | grep -q '^fieldmeter-monitor '
# The installed monitor loads the installed transports module, never the build tree's.
module=$(find "$prefix" -name fieldmeter-transports.so)
[ -f "$module" ] || { echo "the transports module is not installed under $prefix" >&2; exit 1; }
run_monitor() {  # DOCS LOG [ENV...]
  local docs=$1 log=$2
  shift 2
  env XDG_CONFIG_HOME="$dir/config" ASAN_OPTIONS=detect_leaks=0 "$@" \
    "$prefix/bin/fieldmeter-monitor" --input demo --documents "$docs" --duration 2 \
    --mqtt mqtt://127.0.0.1:1 >/dev/null 2>"$log"
}
run_monitor "$dir/docs1" "$dir/loaded.txt" LD_DEBUG=files
grep -q "file=$module \[0\];  dynamically loaded" "$dir/loaded.txt" ||
  { echo "the installed monitor did not load $module" >&2; exit 1; }
# Without it a delivery says which file it could not load, and its messages wait in the outbox.
rm "$module"
run_monitor "$dir/docs2" "$dir/missing.txt"
grep -qF "cannot load $module: cannot open shared object file" "$dir/missing.txt" ||
  { cat "$dir/missing.txt" >&2; echo "no line about the missing module" >&2; exit 1; }
grep -qaF '"seq":1,' "$dir"/docs2/outbox/mqtt/*.seg ||
  { echo "the first second is not in the outbox" >&2; exit 1; }
echo "installed units: passed"
