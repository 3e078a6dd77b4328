#!/usr/bin/env bash
# Installs the build into a folder of its own, as a packager would, and checks what systemd
# reads there: both units pass systemd-analyze verify, and the installed program accepts the
# installed config file.
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
echo "installed units: passed"
