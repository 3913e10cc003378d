#!/usr/bin/env bash
# CPU figures of two builds side by side, and their ratio (NEW / OLD):
#
#   bench/compare_speed.sh --builds OLD_BUILD NEW_BUILD [--runs N] [--no-callgrind]
#                          [--data DIR] [--reference 'COMMAND ...']
#
# For each build: `talverin convert` of every real RINEX set under DIR (default: the shared
# data beside the source tree, imported once with NEW's `talverin import-rinex`) and of the
# synthetic 24 h 1 Hz set of the benchmarks (made once with NEW's talverin_bench), as CPU
# seconds (user + sys of the whole process tree, best of N runs, default 5) and epochs per
# CPU second; the same conversions by the module alone (talverin_bench --convert-once:
# ConvertFile without the program's start and options); the peak resident memory of the
# 24 h conversion; `talverin rinex` of the 24 h
# set, versions 2 and 3 (CPU s, best of N); and, unless --no-callgrind, the instructions
# callgrind counts for the module's conversion of the first synthetic hour and of each real
# set (talverin_bench --convert-once, the module alone, without the program around it).
# --reference runs a command of another solver once per run on the same machine and prints
# its best CPU seconds and our CPU as a fraction of it (for each real set, the command is
# given the set's observation and navigation paths as its last two arguments).
# Wall times are not shown: the machine is shared, and only CPU time and instruction counts
# repeat from run to run.
set -euo pipefail

runs=5
callgrind=1
reference=""
data=$(cd "$(dirname "$0")/.." && pwd)/../shared/data
[[ ${1:-} == --builds ]] || {
  sed -n '2,21p' "$0"
  exit 2
}
old=$(cd "$2" && pwd)
new=$(cd "$3" && pwd)
shift 3
while [[ $# -gt 0 ]]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --no-callgrind) callgrind=0; shift ;;
    --data) data=$2; shift 2 ;;
    --reference) reference=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d "${TMPDIR:-/tmp}/talverin-speed.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Best user + sys CPU seconds of the command over $runs runs (bash's own timer, 1 ms).
best_cpu() {
  local best="" t
  for ((r = 0; r < runs; ++r)); do
    t=$({ TIMEFORMAT='%3U %3S'; time "$@" > /dev/null 2>&1; } 2>&1 | awk '{ print $1 + $2 }')
    if [[ -z $best ]] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$best"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0) printf "%.3f", b / a; else print "-" }'; }
row() { printf '%-48s %14s %14s %8s\n' "$1" "$2" "$3" "$(ratio "$2" "$3")"; }

"$new/bench/talverin_bench" --write-outputs "$work/sets" > /dev/null
day="$work/sets/synthetic-24h-1s"
day_b=$(find "$day" -maxdepth 1 -name 'B*' | head -n 1)
hour_b=$(find "$work/sets/synthetic-1h-1s" -maxdepth 1 -name 'B*' | head -n 1)
declare -A real_b real_epochs real_obs real_nav
for set_dir in "$data"/*/; do
  [[ -d $set_dir ]] || continue
  name=$(basename "$set_dir")
  obs=$(find "$set_dir" -maxdepth 1 -name '*[0-9][0-9]o' | head -n 1)
  nav=$(find "$set_dir" -maxdepth 1 -name '*[0-9][0-9]n' | head -n 1)
  [[ -n $obs && -n $nav ]] || continue
  "$new/talverin" import-rinex "$obs" "$nav" "$work/real-$name" > /dev/null
  real_b[$name]=$(find "$work/real-$name" -name 'B*' | head -n 1)
  real_obs[$name]=$obs
  real_nav[$name]=$nav
  real_epochs[$name]=$("$new/talverin" info "${real_b[$name]}" 2> /dev/null |
    awk '$1 == "epochs" { sub(":", "", $2); print $2; exit }')
done

printf '%-48s %14s %14s %8s\n' "figure (CPU: user + sys, best of $runs)" "old" "new" "new/old"
declare -A ours
for name in "${!real_b[@]}"; do
  a=$(best_cpu "$old/talverin" convert -q -o "$work/o.gpb" "${real_b[$name]}")
  b=$(best_cpu "$new/talverin" convert -q -o "$work/o.gpb" "${real_b[$name]}")
  ours[$name]=$b
  row "convert $name, CPU s" "$a" "$b"
  e=${real_epochs[$name]:-0}
  if [[ $e -gt 0 ]]; then
    row "convert $name, epochs per CPU s ($e epochs)" "$(awk -v e="$e" -v c="$a" 'BEGIN { printf "%.0f", e / c }')" \
      "$(awk -v e="$e" -v c="$b" 'BEGIN { printf "%.0f", e / c }')"
  fi
done
a=$(best_cpu "$old/talverin" convert -q -o "$work/o.gpb" "$day_b")
b=$(best_cpu "$new/talverin" convert -q -o "$work/o.gpb" "$day_b")
row "convert synthetic 24 h 1 Hz, CPU s" "$a" "$b"
row "convert synthetic 24 h 1 Hz, epochs per CPU s" "$(awk -v c="$a" 'BEGIN { printf "%.0f", 86400 / c }')" \
  "$(awk -v c="$b" 'BEGIN { printf "%.0f", 86400 / c }')"
# The module alone: ConvertFile in a small process, without the program's start and options.
for name in "${!real_b[@]}"; do
  a=$(best_cpu "$old/bench/talverin_bench" --convert-once "${real_b[$name]}" "$work/o.gpb" 1)
  b=$(best_cpu "$new/bench/talverin_bench" --convert-once "${real_b[$name]}" "$work/o.gpb" 1)
  row "module alone, $name, CPU s" "$a" "$b"
done
a=$(best_cpu "$old/bench/talverin_bench" --convert-once "$day_b" "$work/o.gpb" 1)
b=$(best_cpu "$new/bench/talverin_bench" --convert-once "$day_b" "$work/o.gpb" 1)
row "module alone, synthetic 24 h 1 Hz, CPU s" "$a" "$b"
row "module alone, synthetic 24 h 1 Hz, epochs per CPU s" \
  "$(awk -v c="$a" 'BEGIN { printf "%.0f", 86400 / c }')" "$(awk -v c="$b" 'BEGIN { printf "%.0f", 86400 / c }')"
for build in old new; do
  dir=$old
  [[ $build == new ]] && dir=$new
  /usr/bin/time -o "$work/mem-$build" -f '%M' "$dir/talverin" convert -q -o "$work/o.gpb" \
    "$day_b" > /dev/null 2>&1 || true
done
row "convert synthetic 24 h 1 Hz, peak RSS MB" \
  "$(tail -n 1 "$work/mem-old" | awk '{ printf "%.2f", $1 / 1024 }')" \
  "$(tail -n 1 "$work/mem-new" | awk '{ printf "%.2f", $1 / 1024 }')"
for v in 2 3; do
  a=$(best_cpu "$old/talverin" rinex --rinex-version $v -d "$work/rx-old" "$day_b")
  b=$(best_cpu "$new/talverin" rinex --rinex-version $v -d "$work/rx-new" "$day_b")
  row "rinex v$v of the synthetic 24 h 1 Hz set, CPU s" "$a" "$b"
done

if [[ $callgrind -eq 1 ]] && command -v valgrind > /dev/null; then
  count() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1/bench/talverin_bench" \
      --convert-once "$2" "$work/cg.gpb" 1 2>&1 | awk '/Collected/ { print $NF }'
  }
  row "module instructions, synthetic hour (M)" "$(($(count "$old" "$hour_b") / 1000000))" \
    "$(($(count "$new" "$hour_b") / 1000000))"
  for name in "${!real_b[@]}"; do
    row "module instructions, $name (M)" "$(($(count "$old" "${real_b[$name]}") / 1000000))" \
      "$(($(count "$new" "${real_b[$name]}") / 1000000))"
  done
fi

if [[ -n $reference ]]; then
  echo
  printf '%-48s %14s %14s %8s\n' "against the reference command" "reference" "new" "fraction"
  for name in "${!real_b[@]}"; do
    # shellcheck disable=SC2086  # the command is split into its words on purpose
    r=$(best_cpu $reference "${real_obs[$name]}" "${real_nav[$name]}")
    row "$name, CPU s" "$r" "${ours[$name]}"
  done
fi
