#!/usr/bin/env bash
# Test share: lines of test code (tests/, testkit/) against lines of shipped code (the module
# and dataset rinex qc cli), per folder and in total. A line counts when it is not blank and
# not a // comment; .h and .cpp files, as clang-format lays them out. The ceiling is 40 %.
# Example: scripts/test-share.sh [--check]   (--check: exit 1 when the share is over the ceiling)
set -euo pipefail
cd "$(dirname "$0")/.."
shipped=(base time geodesy orbit output position job input plugin dataset rinex qc cli)
tests=(testkit $(find tests -mindepth 1 -maxdepth 1 -type d | sort))
count() {  # lines of code of the .h and .cpp files under folder $1
  find "$1" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 |
    xargs -0 -r cat | grep -cvE '^[[:space:]]*(//.*)?$' || true
}
total_shipped=0
total_tests=0
printf '%-15s %7s\n' folder lines
for d in "${shipped[@]}"; do
  n=$(count "$d")
  total_shipped=$((total_shipped + n))
  printf '%-15s %7d\n' "$d" "$n"
done
printf '%-15s %7d\n' shipped "$total_shipped"
for d in "${tests[@]}"; do
  n=$(count "$d")
  total_tests=$((total_tests + n))
  printf '%-15s %7d\n' "$d" "$n"
done
printf '%-15s %7d\n' test "$total_tests"
share=$(awk -v t="$total_tests" -v s="$total_shipped" 'BEGIN { printf "%.1f", 100 * t / s }')
echo "test share: ${share} % (ceiling 40 %)"
if [ "${1:-}" = --check ]; then
  awk -v t="$total_tests" -v s="$total_shipped" 'BEGIN { exit !(t <= 0.4 * s) }'
fi
