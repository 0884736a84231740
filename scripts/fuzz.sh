#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined sanitizers) in
# build-fuzz/ and runs each for SECONDS (60 unless given) from its seed corpus
# in fuzz/corpus/<target>/. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# Targets: regtext hivelog hive free_cells pe_icon ico icon_location (all when none are named).
# Prints each target's executions per second and coverage; exits non-zero on
# the first finding, whose input libFuzzer leaves in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh clang libclang-rt-14-dev  # libFuzzer and the sanitizers' runtimes

seconds=60
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(regtext hivelog hive free_cells pe_icon ico icon_location)

dir=build-fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
  -DORBEL_FUZZ=ON -DBUILD_TESTING=OFF -DORBEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

mkdir -p "$dir/findings"
# Reading the hive target's registry must not depend on this computer's.
export ORBEL_REGISTRY="$PWD/data/sample/system.reg"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
  work="$dir/corpus/$target"  # what a run finds is kept here, not in the seeds
  mkdir -p "$work"
  log="$dir/$target.log"
  echo "=== fuzz $target: $seconds s ==="
  if "$dir/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$dir/findings/$target-" \
       "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || tail -1 "$log"
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
  else
    status=1
    echo "FINDING in $target (log: $log):"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20 || tail -30 "$log"
    break
  fi
done
exit $status
