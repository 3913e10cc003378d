#!/usr/bin/env bash
# talverin.exe against the Linux program. Cross-builds the program (x86-64, static), checks
# that it needs no DLL beyond Windows' own, and runs under wine64 a focused table of
# command-line cases (exit statuses; drive letters and backslashes; b... names in lower case;
# a non-ASCII folder; a path over 260 characters; --jobs; an output held open by another
# program; Ctrl-C at a console; the console's code page) and every command on the sample
# and the shared real sets, whose outputs must equal the Linux program's byte for byte:
# download sets, .sta and .epp (whose lines end CR LF on Windows: the module writes them as
# text files), RINEX, QC JSON and page, positions CSV, the texts on stdout. GPB
# files: the header without its creation stamp, and every record as dump shows it (the
# platforms' math libraries differ in the last bits of computed values).
# Usage: check_program.sh SOURCE_DIR LINUX_BUILD_DIR WORK_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)/talverin
work=$3
if [ ! -x /usr/lib/wine/wine64 ] || ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
  echo "SKIPPED: the Windows program checks need wine64 and MinGW-w64 (scripts/setup.sh)"
  exit 0
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)
cmake -S "$src" -B "$work/x86_64" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTALVERIN_TESTS=OFF -DTALVERIN_BENCH=OFF >/dev/null
cmake --build "$work/x86_64" -j2 --target talverin talverin_cli talverin_program_driver >/dev/null

failed=0
fail() { echo "FAILED: $*"; failed=1; }
pass=0
ok() { pass=$((pass + 1)); }

# Only Windows' own DLLs: no libstdc++, libgcc or winpthread to ship.
imports=$(x86_64-w64-mingw32-objdump -p "$work/x86_64/talverin.exe" |
  sed -n 's/^\tDLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
echo "talverin.exe imports: $imports"
for dll in $imports; do
  case $dll in
    kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll) ok ;;
    *) fail "talverin.exe needs $dll" ;;
  esac
done

run=$work/program
rm -rf "$run" && mkdir -p "$run/win" "$run/lin"
cp "$work/x86_64/talverin.exe" "$work/x86_64/talverin.dll" "$run/win/"
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all
# The Windows program in win/, the Linux one in lin/, each run from its own folder.
W() { (cd "$run/win" && timeout 300 /usr/lib/wine/wine64 ./talverin.exe "$@") | tr -d '\r'; }
L() { (cd "$run/lin" && "$linux" "$@"); }
# expect STATUS NAME COMMAND...: the exit status of a Windows run.
expect() {
  local want=$1 name=$2 status=0
  shift 2
  W "$@" >/dev/null 2>&1 || status=$?
  if [ "$status" = "$want" ]; then ok; else fail "$name: exit status $status, expected $want"; fi
}
# same A B: two files byte for byte; RINEX files without the line that dates the run. The
# module writes .sta and .epp in text mode, so the Windows file (A) ends every line with CR LF
# and equals the Linux file once the CRs are taken out.
same() {
  if [[ $1 == *.sta || $1 == *.epp ]]; then
    [ "$(tr -cd '\r' <"$1" | wc -c)" = "$(tr -cd '\n' <"$1" | wc -c)" ] &&
      cmp -s <(tr -d '\r' <"$1") "$2"
  elif [[ $2 == *[0-9][0-9][on] ]]; then
    cmp -s <(grep -v 'PGM / RUN BY / DATE' "$1") <(grep -v 'PGM / RUN BY / DATE' "$2")
  else
    cmp -s "$1" "$2"
  fi && ok || fail "differ: ${1#$run/} ${2#$run/}"
}
# same_output NAME COMMAND...: stdout of both programs (paths with / on both).
same_output() {
  local name=$1
  shift
  if diff <(W "$@" 2>&1 | tr -d '\r' | tr '\\' '/') <(L "$@" 2>&1) >"$run/$name.diff"; then
    ok
  else
    fail "$name: outputs differ ($run/$name.diff)"
  fi
}
# same_gpb A B: the header but its creation stamp (bytes 24-35) byte for byte, and every
# record as the Linux program's dump shows it.
same_gpb() {
  same <(head -c 24 "$1") <(head -c 24 "$2")
  same <(head -c 512 "$1" | tail -c +37) <(head -c 512 "$2" | tail -c +37)
  if diff <("$linux" dump "$1" | tail -n +2) <("$linux" dump "$2" | tail -n +2) >/dev/null; then
    ok
  else
    fail "GPB records differ: $1 $2"
  fi
  echo "  ${1#$run/}: $(cmp -l <(tail -c +513 "$1") <(tail -c +513 "$2") | wc -l) bytes in the last bits of computed values differ from Linux"
}

# The sets: the sample and each shared real set, imported by both programs.
sets=()
for dir in "$src/samples/bahr-2004-162" "$src/../shared/data"/*/; do
  [ -d "$dir" ] || continue  # no shared data beside the checkout: the sample alone
  obs=$(find "$dir" -maxdepth 1 -name '*[0-9][0-9]o' | head -n 1)
  nav=$(find "$dir" -maxdepth 1 -name '*[0-9][0-9]n' | head -n 1)
  [ -n "$obs" ] && [ -n "$nav" ] || continue
  name=$(basename "$dir")
  [ -e "$run/lin/$name" ] && continue
  cp "$obs" "$nav" "$run/win/" && cp "$obs" "$nav" "$run/lin/"
  W import-rinex "$(basename "$obs")" "$(basename "$nav")" "$name" >/dev/null
  L import-rinex "$(basename "$obs")" "$(basename "$nav")" "$name" >/dev/null
  for f in "$run/lin/$name"/*; do same "$run/win/$name/${f##*/}" "$f"; done
  [ ${#sets[@]} = 0 ] && rinex=("$(basename "$obs")" "$(basename "$nav")")
  sets+=("$name")
done
echo "sets: ${sets[*]}"

bahr=$(basename "$(ls "$run/lin/${sets[0]}"/B*)")
reference=3633910.5918,4425277.7039,2799862.8556  # BAHR antenna, samples/bahr-2004-162
for name in "${sets[@]}"; do
  b=$name/$(basename "$(ls "$run/lin/$name"/B*)")
  for side in W L; do
    $side convert -q -d "$name-out" "$b" >/dev/null 2>&1 || true
    $side rinex -d "$name-rnx" "$b" >/dev/null 2>&1 || true
    $side qc -d "$name-qc" --json "$name-qc.json" "$b" >/dev/null 2>&1 || true
  done
  for f in "$run/lin/$name-out"/*.sta "$run/lin/$name-out"/*.epp "$run/lin/$name-rnx"/* \
    "$run/lin/$name-qc"/* "$run/lin/$name-qc.json"; do
    same "${f/\/lin\//\/win\/}" "$f"
  done
  gpb=$(ls "$run/lin/$name-out"/*.gpb)
  same_gpb "${gpb/\/lin\//\/win\/}" "$gpb"
  same_output "$name-info" info "$b"
  # dump's first line holds the creation stamp.
  if diff <(W dump "${gpb#$run/lin/}" | tail -n +2) <(L dump "${gpb#$run/lin/}" | tail -n +2) >/dev/null; then
    ok
  else
    fail "$name: dump differs"
  fi
done

# Commands over the sample's GPB file with a reference, and their files.
gpb=${sets[0]}-out/${bahr%%.*}_${bahr##*.}.gpb
same_output stats stats --reference "$reference" "$gpb"
W positions --reference "$reference" -o positions.csv "$gpb" >/dev/null
L positions --reference "$reference" -o positions.csv "$gpb" >/dev/null
same "$run/win/positions.csv" "$run/lin/positions.csv"

# Windows paths: a drive letter and backslashes, lower-case set names, a non-ASCII folder
# and one beyond 260 characters convert to the same files as the sample.
winpath="Z:$(echo "$run/win/${sets[0]}/$bahr" | tr '/' '\\')"
expect 0 "drive letter and backslashes" convert -q -d drive "$winpath"
same "$run/win/drive/${bahr%%.*}_${bahr##*.}.sta" "$run/lin/${sets[0]}-out/${bahr%%.*}_${bahr##*.}.sta"
mkdir -p "$run/win/lower"
for letter in B E S; do
  cp "$run/win/${sets[0]}/$letter${bahr:1}" "$run/win/lower/$(echo "$letter${bahr:1}" | tr '[:upper:]' '[:lower:]')"
done
expect 0 "lower-case set names in a folder" convert -q lower
[ -n "$(ls "$run/win/lower"/*.gpb 2>/dev/null)" ] && ok || fail "lower-case set: no GPB file"
unicode="Vermessung Müller 測量"
mkdir -p "$run/win/$unicode" && cp "$run/win/${sets[0]}"/* "$run/win/$unicode/"
expect 0 "non-ASCII folder" convert -q "$unicode/$bahr"
same "$run/win/$unicode/${bahr%%.*}_${bahr##*.}.epp" "$run/lin/${sets[0]}-out/${bahr%%.*}_${bahr##*.}.epp"
expect 0 "non-ASCII folder, rinex" rinex -d "$unicode/rnx" "$unicode/$bahr"
# import-rinex and qc there, against the Linux program in a folder of the same name.
mkdir -p "$run/lin/$unicode"
for side in win lin; do cp "${rinex[@]/#/$run/$side/}" "$run/lin/${sets[0]}"/* "$run/$side/$unicode/"; done
for side in W L; do
  $side import-rinex "${rinex[@]/#/$unicode/}" "$unicode/imported" >/dev/null 2>&1 || true
  $side qc -d "$unicode/qc" --json "$unicode/qc.json" "$unicode/$bahr" >/dev/null 2>&1 || true
done
for f in "$run/lin/$unicode/imported"/* "$run/lin/$unicode/qc"/* "$run/lin/$unicode/qc.json"; do
  same "${f/\/lin\//\/win\/}" "$f"
done
# Past 260 characters: RINEX export writes there; convert refuses as on Linux (the module's
# records hold 255 characters) and leaves no temporary folder behind.
long=$run/win/$(printf 'folder-with-a-long-name-%02d/' 1 2 3 4 5 6 7 8 9 10 11)
expect 0 "rinex into a folder past 260 characters" rinex -d "$long" "${sets[0]}/$bahr"
[ -n "$(ls "$long"/*o 2>/dev/null)" ] && ok || fail "long path: no RINEX file"
expect 2 "convert into a folder past 260 characters" convert -q -d "$long" "${sets[0]}/$bahr"
[ -z "$(ls -A "$long" | grep talverin)" ] && ok || fail "long path: temporary folder left"
mkdir -p "$run/win/two" && cp "$run/win/${sets[0]}"/* "$run/win/two/"
for letter in B E S; do cp "$run/win/two/$letter${bahr:1}" "$run/win/two/$letter${bahr%.*}.163"; done
expect 0 "--jobs 2 over a folder of two sets" convert -q -j 2 two
[ "$(ls "$run/win/two"/*.gpb | wc -l)" = 2 ] && ok || fail "--jobs 2: not two GPB files"
# Two processes of a batch that would write one RINEX file: the second is refused.
mkdir -p "$run/win/again" && cp "$run/win/${sets[0]}"/* "$run/win/again/"
expect 2 "--jobs 2, one output claimed twice" rinex -j 2 -d claimed "${sets[0]}/$bahr" "again/$bahr"
# Failures: a missing set, a usage error, an output over the input.
expect 2 "missing set" convert nowhere/B0000A01.001
expect 2 "unknown option" convert --no-such-option "${sets[0]}/$bahr"
expect 2 "output over the input" convert -o "${sets[0]}/$bahr" "${sets[0]}/$bahr"
message=$( (W convert nowhere/B0000A01.001 2>&1 >/dev/null) || true)
[[ $message == *B0000A01.001* ]] && ok || fail "missing set: stderr does not name it"

# Messages naming a non-ASCII path are UTF-8 in a pipe and in a file.
missing="$unicode/nowhere/B0000A01.001"
message=$( (W convert "$missing" 2>&1 >/dev/null) || true)
[[ $message == *"$missing"* ]] && ok || fail "non-ASCII path through a pipe: $message"
(cd "$run/win" && /usr/lib/wine/wine64 ./talverin.exe convert "$missing" >stdout.txt 2>/dev/null) || true
grep -qF "$missing: unreadable" "$run/win/stdout.txt" && ok || fail "non-ASCII path into a file"

# The driver (program_driver.cpp) disturbs talverin.exe as another program or the console
# would. old_outputs DIR STEM writes an old text as each output of a set; old_count counts
# those still there.
cp "$work/x86_64/tests/windows/talverin_program_driver.exe" "$run/win/"
D() { (cd "$run/win" && timeout 300 /usr/lib/wine/wine64 ./talverin_program_driver.exe "$@"); }
old_outputs() { local ext; for ext in gpb sta epp; do echo "old $2.$ext" >"$1/$2.$ext"; done; }
old_count() {
  local n=0 ext
  for ext in gpb sta epp; do echo "old $2.$ext" | cmp -s - "$1/$2.$ext" && n=$((n + 1)); done
  echo "$n"
}
no_temporary() { [ -z "$(ls -A "$1" | grep '^\.talverin')" ] && ok || fail "$2: temporary left"; }
# An output held open without sharing: convert fails naming it and replaces none of the three.
stem=${bahr%%.*}_${bahr##*.}
mkdir -p "$run/win/held" && cp "$run/win/${sets[0]}"/* "$run/win/held/"
for ext in gpb sta; do
  old_outputs "$run/win/held" "$stem"
  status=0
  message=$(D hold "held\\$stem.$ext" "talverin.exe convert -q held/$bahr" 2>&1) || status=$?
  [ "$status" = 2 ] && ok || fail "$ext held open: exit status $status, expected 2"
  [[ $message == *"held/$stem.$ext is open in another program"* ]] && ok ||
    fail "$ext held open: the message does not name it: $message"
  [ "$(old_count "$run/win/held" "$stem")" = 3 ] && ok || fail "$ext held open: outputs replaced"
  no_temporary "$run/win/held" "$ext held open"
done
# A stop at the console during a batch of 12 sets (the largest set under other names): the
# batch stops, names the sets finished before it and exits 1; each set's outputs are all old
# or all new, the new ones exactly those of the sets named. Wine delivers CTRL_C_EVENT to the
# processes of a console the driver makes; Ctrl-Break it refuses, which is reported.
biggest=$(ls -S "$run/win"/*/B*.[0-9][0-9][0-9] | grep -v '/stop-\|/held/' | head -n 1)
stop_check() {
  local mode=$1 dir=$run/win/stop-$1 site=${biggest##*/B} finished=0 output status=0
  mkdir -p "$dir"
  for letter in B C D E F G H J K L M N; do
    local name=${site:0:4}$letter${site:5}
    for kind in B E S; do cp "${biggest%/*}/$kind$site" "$dir/$kind$name"; done
    old_outputs "$dir" "B${name%%.*}_${name##*.}"
  done
  output=$(D "$mode" 2000 "talverin.exe convert -q stop-$mode" 2>&1) || status=$?
  if [[ $output == *"event refused"* ]]; then
    echo "  UNTESTED: $mode: wine refuses the console event: $(grep -o 'event refused.*' <<<"$output")"
    return
  fi
  [ "$status" = 1 ] && ok || fail "$mode: exit status $status, expected 1"
  local stopped
  stopped=$(grep -o 'stopped by a stop request.*' <<<"$output") && ok || fail "$mode: no stop message: $output"
  for b in "$dir"/B*.[0-9]*; do
    local stem=${b##*/} count
    stem=${stem%%.*}_${stem##*.}
    count=$(old_count "$dir" "$stem")
    if [ "$count" = 0 ]; then
      finished=$((finished + 1))
      [[ $stopped == *"${b##*/}"* ]] && ok || fail "$mode: $stem new but its set is not named finished"
    elif [ "$count" = 3 ]; then
      [[ $stopped != *"${b##*/}"* ]] && ok || fail "$mode: $stem old but its set is named finished"
    else
      fail "$mode: $stem: $count of 3 outputs old"
    fi
  done
  [[ $stopped == *"; $finished of 12 sets finished"* ]] && [ "$finished" -lt 12 ] && ok ||
    fail "$mode: $finished sets new: $stopped"
  no_temporary "$dir" "$mode"
}
stop_check ctrl-c
stop_check break
# In a console (wine makes one under a pseudo-terminal) the program writes in UTF-8 while it
# runs and puts the console's code page back at exit (the driver samples it every 2 ms).
if command -v script >/dev/null; then
  (cd "$run/win" && script -qec "timeout 300 /usr/lib/wine/wine64 ./talverin_program_driver.exe \
    console 850 'talverin.exe convert -q \"$missing\"' >console.txt 2>&1" /dev/null </dev/null >/dev/null) || true
  tr -d '\r' <"$run/win/console.txt" | grep -Eq '^driver: code page during 850 65001( 850)?, after 850$' &&
    ok || fail "console code page: $(grep 'code page' "$run/win/console.txt")"
fi

echo "Windows program: $pass passed, $failed failed"
exit $failed
