#!/usr/bin/env bash
# Runs every benchmark program and benchmark script, collects build/bench-summary.txt and
# checks each figure against bench/targets.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FM_RELEASE_DIR:-$root/build/release}
summary=$root/build/bench-summary.txt
mkdir -p "$root/build"
: >"$summary"
export FM_BENCH_SUMMARY=$summary FM_BUILD_DIR=$build FM_SOURCE_DIR=$root
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$build/xdg-runtime}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

status=0
while IFS= read -r prog; do
  echo "== $prog"
  "$prog" --benchmark_min_time=0.2 || status=1
done < <(find "$build/bench" -type f -name 'bench_*' -perm -u+x | sort)
while IFS= read -r script; do
  echo "== $script"
  bash "$script" || status=1
done < <(find "$root/bench" -type f -name '*.bench.sh' | sort)

echo
echo "== summary ($summary)"
cat "$summary"
echo
echo "== targets"
while read -r key op limit; do
  case "$key" in ''|'#'*) continue ;; esac
  value=$(awk -v k="$key" '$1==k {print $2}' "$summary" | tail -n 1)
  if [ -z "$value" ]; then
    echo "MISSING $key"; status=1; continue
  fi
  if awk -v v="$value" -v l="$limit" -v o="$op" 'BEGIN { exit !((o=="<=" && v<=l) || (o==">=" && v>=l)) }'; then
    echo "ok      $key $value $op $limit"
  else
    echo "MISSED  $key $value $op $limit"; status=1
  fi
done <"$root/bench/targets.txt"
exit $status
