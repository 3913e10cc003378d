#!/usr/bin/env bash
# Builds Talverin and runs the whole test suite: the format check, the page script's syntax
# check, clang-tidy on the shipped code (.clang-tidy), the unit and end-to-end tests, the Windows
# DLL checks (MinGW-w64 cross-build, export table, wine64 host), talverin.exe under wine64
# against the Linux program (tests/windows/check_program.sh), then the same tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded fuzz stage (60 s per
# libFuzzer harness, fuzz/run.sh).
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh
shipped=(base time geodesy orbit output position job input plugin dataset rinex qc cli)
# Every stage prints its duration; a failing stage stops the run.
stage() {
  local name=$1 started=$SECONDS
  shift
  "$@"
  echo "== stage ${name}: $((SECONDS - started)) s"
}
lint_cpp() {
  # Each shipped .cpp with .clang-tidy's checks, two at a time; a finding fails the stage.
  git ls-files -z "${shipped[@]/%//*.cpp}" | xargs -0 -P2 -n4 clang-tidy -p build --quiet
}
asan_tests() {
  cmake -S . -B build-asan -DTALVERIN_SANITIZE=ON -DTALVERIN_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug \
    >/dev/null
  cmake --build build-asan -j2 --target talverin_tests
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan -j2 --output-on-failure -E WindowsPlugin
}
# Format check: every C++ file as .clang-format lays it out.
stage format bash -c "git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format --dry-run --Werror"
# The quality page's script parses (it is embedded into the HTML, never run here).
stage page-script node --check qc/report.js
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
stage clang-tidy lint_cpp
stage build cmake --build build -j2
stage tests ctest --test-dir build -j2 --output-on-failure
# talverin.exe under wine64 against the Linux program (skipped without wine64 or MinGW-w64).
stage windows-program bash tests/windows/check_program.sh . build build/windows
stage sanitizers asan_tests
# Bounded fuzz stage: every libFuzzer harness for 60 s on its seed corpus.
stage fuzz bash fuzz/run.sh 60
