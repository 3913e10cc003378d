#!/usr/bin/env bash
# Compares the outputs of two builds: every .epp and .sta file byte for byte, every GPB file
# past its 512-byte header (the header holds the file's creation stamp) plus its first 16
# header bytes.
#
#   bench/compare_outputs.sh DIR_A DIR_B
#       two output trees written with `talverin_bench --write-outputs DIR`.
#   bench/compare_outputs.sh --builds BUILD_A BUILD_B [DATA_DIR]
#       writes both trees itself: the bench sets of each build, and every real RINEX set
#       under DATA_DIR (default: the shared data beside the source tree; a directory with
#       one *o and one *n file each), imported once with BUILD_A's `talverin import-rinex`
#       and converted with each build's `talverin convert`.
# Exit 0 when all are identical.
set -euo pipefail

if [[ ${1:-} == --builds ]]; then
  build_a=$(cd "$2" && pwd)
  build_b=$(cd "$3" && pwd)
  data=${4:-$(cd "$(dirname "$0")/.." && pwd)/../shared/data}
  work=$(mktemp -d "${TMPDIR:-/tmp}/talverin-compare.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  for side in a b; do
    build=$build_a
    [[ $side == b ]] && build=$build_b
    "$build/bench/talverin_bench" --write-outputs "$work/$side" > "$work/$side.log"
  done
  for set_dir in "$data"/*/; do
    [[ -d $set_dir ]] || continue
    name=$(basename "$set_dir")
    obs=$(find "$set_dir" -maxdepth 1 -name '*[0-9][0-9]o' | head -n 1)
    nav=$(find "$set_dir" -maxdepth 1 -name '*[0-9][0-9]n' | head -n 1)
    [[ -n $obs && -n $nav ]] || continue
    "$build_a/talverin" import-rinex "$obs" "$nav" "$work/set-$name" > /dev/null
    b_file=$(find "$work/set-$name" -name 'B*' | head -n 1)
    for side in a b; do
      build=$build_a
      [[ $side == b ]] && build=$build_b
      mkdir -p "$work/$side/real-$name"
      # Exit status 1 or 2 is a result to compare, not a failure of this script.
      "$build/talverin" convert -q -o "$work/$side/real-$name/recomputed.gpb" "$b_file" \
        > /dev/null 2>&1 || true
    done
  done
  "$0" "$work/a" "$work/b"
  exit $?
fi

a=$1
b=$2
different=0
count=0
while IFS= read -r f; do
  count=$((count + 1))
  if [[ ! -e $b/$f ]]; then
    echo "missing in $b: $f"
    different=1
  elif [[ $f == *.gpb ]]; then
    if ! cmp -s <(tail -c +513 "$a/$f") <(tail -c +513 "$b/$f") ||
       ! cmp -s <(head -c 16 "$a/$f") <(head -c 16 "$b/$f"); then
      echo "differs: $f"
      different=1
    fi
  elif ! cmp -s "$a/$f" "$b/$f"; then
    echo "differs: $f"
    different=1
  fi
done < <(cd "$a" && find . \( -name '*.gpb' -o -name '*.epp' -o -name '*.sta' \) | sort)
if [[ $count -eq 0 ]]; then
  echo "no outputs in $a"
  exit 1
fi
[[ $different -eq 0 ]] && echo "identical: $count files"
exit $different
