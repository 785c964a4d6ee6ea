#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with Clang, replays the saved crash inputs of
# tests/fuzz/regressions, then runs each target for the given number of seconds (30 unless
# told) on a scratch copy of its seed corpus. New corpus entries stay in the scratch folder;
# crash inputs go to <build>/artifacts. Exits non-zero when any target crashes.
#
#   scripts/fuzz.sh [seconds]        FUZZ_BUILD_DIR (default build/fuzz) picks the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
build=${FUZZ_BUILD_DIR:-build/fuzz}
targets=(settings command_line)

# Inputs up to this size: room for more than the store's 1000 lines, and for command lines
# with tokens beyond the 4096-byte limit.
declare -A max_len=([settings]=16384 [command_line]=12288)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEFIX_FUZZ=ON \
  >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"

status=0
for target in "${targets[@]}"; do
  program="$build/tests/fuzz/fuzz_$target"

  regressions=(tests/fuzz/regressions/"$target"/*)
  if [ -e "${regressions[0]}" ]; then
    echo "== fuzz_$target: replaying ${#regressions[@]} saved inputs"
    if ! "$program" "${regressions[@]}" >"$scratch/$target-replay.log" 2>&1; then
      tail -n 40 "$scratch/$target-replay.log"
      echo "FAILED: fuzz_$target on a saved input"
      status=1
    fi
  fi

  echo "== fuzz_$target: ${seconds} s"
  mkdir -p "$scratch/$target"
  cp tests/fuzz/corpus/"$target"/* "$scratch/$target/"
  if ! "$program" "$scratch/$target" \
      -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=30 \
      -dict="tests/fuzz/$target.dict" -artifact_prefix="$build/artifacts/$target-" \
      -print_final_stats=1 >"$scratch/$target.log" 2>&1; then
    tail -n 60 "$scratch/$target.log"
    echo "FAILED: fuzz_$target crashed; the input is in $build/artifacts/"
    status=1
  else
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|Done)' "$scratch/$target.log" || true
  fi
done
exit $status
