#!/usr/bin/env bash
# Converts the bundled real sample with the built command-line host: makes the download set
# (B, E, S files) from the station's RINEX files, converts it, and prints the summary, the
# first epoch positions and the position errors against the station's known antenna position.
# Usage: convert-sample.sh BUILD_DIR
set -euo pipefail
build=$1
out=$build/sample-out
rm -rf "$out" && mkdir -p "$out/set"
sample=samples/bahr-2004-162
# BAHR antenna reference point, ITRF2014 propagated to 2004-06-10 (see samples/bahr-2004-162/README.txt).
reference=3633910.5918,4425277.7039,2799862.8556
"$build/talverin" import-rinex "$sample/bahr1620.04o" "$sample/bahr1620.04n" "$out/set"
input=$(ls "$out"/set/B*)
# The outputs go beside the B file: BBAHRA04_162.gpb, .sta, .epp.
"$build/talverin" convert "$input"
echo "first epochs:"
"$build/talverin" positions "${input%.*}_${input##*.}.gpb" --reference "$reference" | head -4
echo "position errors against the known antenna position:"
"$build/talverin" stats "${input%.*}_${input##*.}.gpb" --reference "$reference"
