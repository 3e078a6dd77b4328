#!/usr/bin/env bash
# Builds the WAV conversion's libFuzzer target with clang (outside the gcc build) and runs it
# for a bounded time. Usage: run-fuzz.sh SOURCE_DIR WORK_DIR SECONDS
set -euo pipefail
src=$1 work=$2 seconds=$3
mkdir -p "$work/corpus"
clang++ -std=c++20 -O1 -g -Wall -Wextra -Werror \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$src" \
  "$src/tests/recording/fuzz/RawMotionWavFuzz.cpp" \
  "$src/recording/RawMotion.cpp" "$src/recording/RawMotionWav.cpp" \
  "$src/recording/RecordingState.cpp" "$src/platform/documents/DocumentsFolder.cpp" \
  "$src/platform/console/Console.cpp" \
  -o "$work/raw_motion_wav_fuzz"
# The conversion's progress messages go to standard output; libFuzzer reports on stderr.
cd "$work"
./raw_motion_wav_fuzz -max_total_time="$seconds" -max_len=8192 -timeout=20 \
  -print_final_stats=1 corpus >/dev/null
