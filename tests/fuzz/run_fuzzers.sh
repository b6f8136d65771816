#!/usr/bin/env bash
# Runs every fuzz target for the given seconds, with the marker dictionary and
# the seed corpora made from the stand-in tools' reports:
#   tests/fuzz/run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]
# BUILD_DIR is a build configured with -DQARVIK_FUZZ=ON (and built, wincmd
# included). A fuzzer keeps one core busy, so QARVIK_FUZZ_JOBS targets (2
# unless set) run at once, each for the whole SECONDS; each target's summary
# prints as it ends. Findings go to BUILD_DIR/fuzz-artifacts/<target>/; the
# script exits non-zero when any target found something.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_command_line fuzz_filter_lines fuzz_adapter_blocks fuzz_own_host fuzz_other_hosts
           fuzz_computer_names fuzz_netbeui fuzz_wincmd_split fuzz_wincmd_network fuzz_kernel_answers
           fuzz_netbios_packets)
fi

# Seeds are made once, and again when a target has none (a target added since).
seeds=$build/fuzz-seeds
missing=0
for target in "${targets[@]}"; do [ -d "$seeds/$target" ] || missing=1; done
if [ "$missing" = 1 ]; then
  "$here/make_seeds.sh" "$build/wincmd" "$seeds" || { echo "seeds failed"; exit 2; }
fi

# Reports are line-based and short; the harvest and NetBEUI inputs carry several.
max_len() {
  case $1 in
    fuzz_command_line|fuzz_wincmd_split) echo 1024 ;;
    fuzz_own_host) echo 4096 ;;
    fuzz_netbios_packets) echo 8192 ;;  # one datagram; a table of 255 names takes 4.7 KB
    *) echo 16384 ;;
  esac
}

jobs=${QARVIK_FUZZ_JOBS:-2}

# One target, its whole output in its log; its exit status goes to a file.
fuzz_one() {
  local target=$1 corpus=$build/fuzz-corpus/$1 artifacts=$build/fuzz-artifacts/$1
  mkdir -p "$corpus" "$artifacts"
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
      -dict="$here/markers.dict" -artifact_prefix="$artifacts/" -timeout=10 \
      -rss_limit_mb=4096 -print_final_stats=1 \
      "$corpus" "$seeds/$target" > "$build/fuzz-$target.log" 2>&1
  echo $? > "$build/fuzz-$target.status"
}

# The summary of a target that ended: what it ran, and a finding if any.
report_one() {
  local target=$1 status
  status=$(cat "$build/fuzz-$target.status")
  echo "== $target for ${seconds}s"
  grep -E "^(INFO: |#[0-9]+.*DONE|==[0-9]+==ERROR|SUMMARY|stat::number_of_executed_units|invariant)" \
      "$build/fuzz-$target.log"
  if [ "$status" -ne 0 ]; then
    echo "!! $target: finding (exit $status), see $build/fuzz-artifacts/$target and $build/fuzz-$target.log"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
}

declare -A running=()  # pid -> target
# Waits for one running target to end and reports it.
reap_one() {
  local ended
  wait -n -p ended "${!running[@]}"
  report_one "${running[$ended]}"
  unset "running[$ended]"
}

failed=0
passed=0
for target in "${targets[@]}"; do
  while [ ${#running[@]} -ge "$jobs" ]; do reap_one; done
  rm -f "$build/fuzz-$target.status"
  fuzz_one "$target" &
  running[$!]=$target
done
while [ ${#running[@]} -gt 0 ]; do reap_one; done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
