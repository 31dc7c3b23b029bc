#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, preset "fuzz", build/fuzz) and runs
# each for SECONDS (default 60), as many at a time as there are cores.
# Fails on any finding: a crash, a sanitizer report, a leak, a hang (-timeout)
# or a failed check. New inputs go to build/fuzz/corpus/<target>, findings to
# build/fuzz/artifacts/<target>/; the seeds in fuzz/corpus/<target> are only read.
#
#   tools/ci/fuzz.sh [SECONDS]     e.g. tools/ci/fuzz.sh 600 for a longer run
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

targets=()
for target in fuzz_decode fuzz_decode_stream fuzz_command_line fuzz_round_trip; do
  [[ -x build/fuzz/fuzz/$target ]] && targets+=("$target")
done
[[ ${#targets[@]} -gt 0 ]] || { echo "fuzz: no targets built" >&2; exit 1; }

# Inputs long enough for names past 511 characters and for output past the
# 4096-byte window.
max_len() {
  case $1 in
    fuzz_command_line) echo 2048 ;;
    fuzz_decode | fuzz_decode_stream) echo 8192 ;;
    *) echo 16384 ;;
  esac
}

run_one() {
  local target=$1 work=build/fuzz/corpus/$1 artifacts=build/fuzz/artifacts/$1/
  mkdir -p "$work" "$artifacts"
  build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(max_len "$target")" -print_final_stats=1 -artifact_prefix="$artifacts" \
    "$work" "fuzz/corpus/$target" >"build/fuzz/$target.log" 2>&1
}

jobs=$(nproc)
failed=0
pids=()
names=()
for target in "${targets[@]}"; do
  run_one "$target" &
  pids+=($!)
  names+=("$target")
  if [[ ${#pids[@]} -ge $jobs ]]; then
    wait "${pids[0]}" || { echo "fuzz: FINDING in ${names[0]}" >&2; failed=1; }
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for k in "${!pids[@]}"; do
  wait "${pids[$k]}" || { echo "fuzz: FINDING in ${names[$k]}" >&2; failed=1; }
done

for target in "${targets[@]}"; do
  log=build/fuzz/$target.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+[[:space:]]' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [^ ]+' || true)
  echo "fuzz: $target: ${runs:-?} executions in ${seconds}s; ${last:-no coverage line}"
  if grep -qE 'ERROR: |SUMMARY: |Test unit written' "$log"; then
    grep -E 'ERROR: |SUMMARY: |Test unit written' "$log" | head -5 >&2
    failed=1
  fi
done
exit $failed
