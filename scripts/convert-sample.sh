#!/usr/bin/env bash
# Converts the bundled sample download set with the built command-line host.
# Usage: convert-sample.sh BUILD_DIR
set -euo pipefail
build=$1
out=$build/sample-out
mkdir -p "$out"
set_dir=samples/header-only
"$build/talverin" convert "$set_dir/B0001A01.001" "$out/sample.gpb"
"$build/talverin" dump "$out/sample.gpb" | head -n 20
