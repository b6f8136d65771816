#!/usr/bin/env bash
# Runs every fuzz target for the given seconds, one after another, with the
# marker dictionary and the seed corpora made from the stand-in tools' reports:
#   tests/fuzz/run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]
# BUILD_DIR is a build configured with -DQARVIK_FUZZ=ON (and built, wincmd
# included). Findings go to BUILD_DIR/fuzz-artifacts/<target>/; the script
# exits non-zero when any target found something.
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

failed=0
passed=0
for target in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$target
  artifacts=$build/fuzz-artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  echo "== $target for ${seconds}s"
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
      -dict="$here/markers.dict" -artifact_prefix="$artifacts/" -timeout=10 \
      -rss_limit_mb=4096 -print_final_stats=1 \
      "$corpus" "$seeds/$target" 2>&1 | tee "$build/fuzz-$target.log" |
      grep -E "^(INFO: |#[0-9]+.*DONE|==[0-9]+==ERROR|SUMMARY|stat::number_of_executed_units|invariant)"
  status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    echo "!! $target: finding (exit $status), see $artifacts and $build/fuzz-$target.log"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
