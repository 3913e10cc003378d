#!/usr/bin/env bash
# Wall and CPU time of a batch over cores, one job against two (and more):
#
#   bench/batch_speed.sh --builds OLD_BUILD NEW_BUILD [--runs N] [--jobs "1 2"] [--data DIR]
#   bench/batch_speed.sh --build BUILD [--runs N] [--jobs "1 2"] [--data DIR]
#
# Eight short sets: the real 24 h day of the shared data (usno-2005-020, 2,880 epochs at 30 s,
# imported once with the newest build's `talverin import-rinex`) copied under eight site names
# (BUSN1A05.020 .. BUSN8A05.020, so that builds from before outputs kept the day write eight
# distinct outputs too). For each build and each number of jobs, `talverin convert -q -j N`
# of the folder: wall seconds and CPU seconds (user + sys of the whole process tree), best of N
# runs (default 7), the speed-up of each -j against -j 1, and with two builds the new/old ratio.
# The machine's load average is printed before and after: wall figures only mean something
# when no other work shares the cores.
set -euo pipefail

runs=7
jobs="1 2"
builds=()
data=$(cd "$(dirname "$0")/.." && pwd)/../shared/data
case ${1:-} in
  --builds) builds=("$(cd "$2" && pwd)" "$(cd "$3" && pwd)"); shift 3 ;;
  --build) builds=("$(cd "$2" && pwd)"); shift 2 ;;
  *) sed -n '2,14p' "$0"; exit 2 ;;
esac
while [[ $# -gt 0 ]]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --data) data=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
newest=${builds[${#builds[@]} - 1]}

work=$(mktemp -d "${TMPDIR:-/tmp}/talverin-batch-speed.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$newest/talverin" import-rinex "$data/usno-2005-020/usno0200.05o" \
  "$data/usno-2005-020/brdc0200.05n" "$work/day" > /dev/null
mkdir -p "$work/sets"
for site in 1 2 3 4 5 6 7 8; do
  for file in "$work"/day/?USNOA05.020; do
    name=$(basename "$file")
    cp "$file" "$work/sets/${name:0:4}$site${name:5}"
  done
done

# Best wall and best CPU seconds (each over all runs) of the command, as "wall cpu".
best() {
  local wall="" cpu="" w c
  for ((r = 0; r < runs; ++r)); do
    read -r w c < <({ TIMEFORMAT='%3R %3U %3S'; time "$@" > /dev/null 2>&1; } 2>&1 |
      awk '{ print $1, $2 + $3 }')
    if [[ -z $wall ]] || awk -v a="$w" -v b="$wall" 'BEGIN { exit !(a < b) }'; then wall=$w; fi
    if [[ -z $cpu ]] || awk -v a="$c" -v b="$cpu" 'BEGIN { exit !(a < b) }'; then cpu=$c; fi
  done
  echo "$wall $cpu"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
printf '%-10s %-6s %10s %10s %16s\n' build jobs "wall s" "CPU s" "speed-up (wall)"
declare -A walls
for build in "${builds[@]}"; do
  label=new
  [[ ${#builds[@]} -eq 2 && $build == "${builds[0]}" ]] && label=old
  for j in $jobs; do
    rm -rf "$work/out"
    read -r wall cpu < <(best "$build/talverin" convert -q -j "$j" -d "$work/out" "$work/sets")
    walls[$label-$j]=$wall
    printf '%-10s %-6s %10s %10s %16s\n' "$label" "-j $j" "$wall" "$cpu" \
      "$(awk -v a="${walls[$label-1]:-}" -v b="$wall" 'BEGIN { if (a > 0) printf "%.2f", a / b; else print "-" }')"
  done
done
if [[ ${#builds[@]} -eq 2 ]]; then
  for j in $jobs; do
    printf 'new/old wall, -j %s: %s\n' "$j" \
      "$(awk -v a="${walls[old-$j]}" -v b="${walls[new-$j]}" 'BEGIN { printf "%.3f", b / a }')"
  done
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
