#!/usr/bin/env bash
# Bounded fuzz stage: builds the libFuzzer harnesses (clang, AddressSanitizer with leak
# detection, UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for SECONDS (default
# 60) on its seed corpus fuzz/corpus/<harness>/ with -timeout=10. A crash, a leak, a
# sanitizer report, a hang, running out of memory or a broken promise of the harness
# checks fails the stage: the exit status is non-zero and the input is kept under
# build-fuzz/fuzz-artifacts/<harness>/. New inputs collect in build-fuzz/fuzz-corpus/.
#   fuzz/run.sh                     every harness 60 s (the CI stage)
#   fuzz/run.sh 1800                the long run: 30 minutes per harness
#   FUZZ_RUNS=1000000 fuzz/run.sh 1800 observation   one harness, at most a million runs
set -u
seconds=${1:-60}
shift $(( $# > 0 ? 1 : 0 ))
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(observation ephemeris site event conversion)
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DTALVERIN_FUZZ=ON -DTALVERIN_TESTS=OFF \
    -DTALVERIN_TOOLS=OFF -DTALVERIN_BENCH=OFF >/dev/null || exit 1
fi
targets=()
for h in "${harnesses[@]}"; do targets+=("${h}_fuzz"); done
make -C "$build" -j2 "${targets[@]}" >/dev/null || { echo "fuzz build failed" >&2; exit 1; }

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for h in "${harnesses[@]}"; do
  seeds=$root/fuzz/corpus/$h
  work=$build/fuzz-corpus/$h
  artifacts=$build/fuzz-artifacts/$h
  mkdir -p "$work" "$artifacts"
  log=$build/fuzz-$h.log
  runs=()
  [ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")
  "$build/fuzz/${h}_fuzz" -max_total_time="$seconds" -timeout=10 -detect_leaks=1 \
      -print_final_stats=1 "${runs[@]}" -artifact_prefix="$artifacts/" "$work" "$seeds" \
      >"$log" 2>&1
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  secs=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | grep -o 'in [0-9]*' | grep -o '[0-9]*')
  if [ $rc -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log"; then
    echo "FAIL $h (exit $rc): see $log and $artifacts" >&2
    grep -m5 -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" >&2
    status=1
  else
    echo "ok   $h: ${execs:-?} executions in ${secs:-?} s"
  fi
done
exit $status
