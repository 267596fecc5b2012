#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build-fuzz/ (the
# libraries instrumented, nothing else), makes their seed corpora, and runs
# each target for a fixed time, two at a time. A crash, a leak, a timeout or
# a failed check ends with status 1 and prints the reproducer.
#
#   scripts/fuzz.sh [-t SECONDS] [-j PARALLEL] [TARGET...]
#
# TARGET is a name such as "package" (fuzz_package); all of them by default.
# New inputs that reach further are kept in build-fuzz/fuzz/corpus/TARGET and
# used again by the next run; the inputs of the last run's findings are in
# build-fuzz/fuzz/findings.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=20
parallel=2
while getopts "t:j:" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    j) parallel=$OPTARG ;;
    *) sed -n '2,12p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

build=${RB_FUZZ_BUILD:-$root/build-fuzz}
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRB_FUZZ=ON \
    -DRB_BUILD_APP=OFF -DRB_BUILD_TESTS=OFF -DRB_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target fuzz

work=$build/fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$build"/bin/fuzz_*; do targets+=("${bin##*/fuzz_}"); done
fi
rm -rf "$work/seeds" "$work/logs" "$work/findings"
mkdir -p "$work/logs" "$work/findings"
python3 "$root/tests/fuzz/seeds.py" "$work/seeds"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"

run() {
  local t=$1 dict=()
  [ -f "$work/seeds/$t.dict" ] && dict=("-dict=$work/seeds/$t.dict")
  mkdir -p "$work/corpus/$t"
  "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$work/findings/$t-" "${dict[@]}" "$work/corpus/$t" "$work/seeds/$t" \
    >"$work/logs/$t.log" 2>&1
}

echo "== fuzzing: ${targets[*]} (${seconds} s each, $parallel at a time) =="
declare -A pid_of
status=0
failed=()
for t in "${targets[@]}"; do
  [ -x "$build/bin/fuzz_$t" ] || { echo "no fuzz target $t" >&2; exit 2; }
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  run "$t" &
  pid_of[$t]=$!
done
for t in "${targets[@]}"; do
  if ! wait "${pid_of[$t]}"; then
    status=1
    failed+=("$t")
  fi
done

# Per target: executions per second, executions, and edges covered.
printf '%-15s %10s %12s %8s\n' target "exec/s" executions edges
for t in "${targets[@]}"; do
  log=$work/logs/$t.log
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  printf '%-15s %10s %12s %8s\n' "$t" "${rate:--}" "${execs:--}" "${cov:--}"
done

for t in "${failed[@]}"; do
  log=$work/logs/$t.log
  echo
  echo "== FINDING in fuzz_$t =="
  sed -n '/==== FINDING\|==[0-9]*==ERROR\|^SUMMARY\|runtime error/,$p' "$log" | head -80
  for a in "$work/findings/$t-"*; do
    [ -f "$a" ] || continue
    echo "-- reproducer $a ($(stat -c %s "$a") bytes); run it again with:"
    echo "   RB_FUZZ_TRACE=1 $build/bin/fuzz_$t $a"
    echo "-- its bytes (base64 -d to rebuild it):"
    head -c 65536 "$a" | base64
  done
done
exit $status
