#!/usr/bin/env bash
# Builds Talverin and runs the whole test suite: the unit and end-to-end tests, the Windows
# DLL checks (MinGW-w64 cross-build, export table, wine64 host), then the same tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded fuzz stage (60 s per
# libFuzzer harness, fuzz/run.sh).
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh
# Format check: every C++ file as .clang-format lays it out.
git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format --dry-run --Werror
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
ctest --test-dir build -j2 --output-on-failure
cmake -S . -B build-asan -DTALVERIN_SANITIZE=ON -DTALVERIN_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j2 --target talverin_tests
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j2 --output-on-failure -E WindowsPlugin
# Bounded fuzz stage: every libFuzzer harness for 60 s on its seed corpus.
bash fuzz/run.sh 60
