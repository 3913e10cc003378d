#!/usr/bin/env bash
# Compares the outputs that two builds wrote with `talverin_bench --write-outputs DIR`:
# every .epp and .sta file byte for byte, every GPB file past its 512-byte header (the
# header holds the file's creation stamp) plus its first 16 header bytes.
# Usage: bench/compare_outputs.sh DIR_A DIR_B   (exit 0 when all are identical)
set -euo pipefail
a=$1
b=$2
different=0
count=0
while IFS= read -r f; do
  count=$((count + 1))
  if [[ $f == *.gpb ]]; then
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
