#!/usr/bin/env bash
# Builds Talverin and converts the bundled sample download set (samples/), printing the
# conversion summary and the position statistics against the station's known coordinates.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVERIN_BENCH=OFF >/dev/null
cmake --build build -j2 --target talverin_cli talverin
bash scripts/convert-sample.sh build
