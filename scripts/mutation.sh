#!/usr/bin/env bash
# Mutation check of the test suite (not part of CI): see scripts/mutation.py --help.
# Example: scripts/mutation.sh --seed 17 --count 100 --report scripts/mutation-baseline.txt
exec python3 "$(dirname "$0")/mutation.py" "$@"
