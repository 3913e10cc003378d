#!/usr/bin/env bash
# Cross-builds the plug-in for Windows with MinGW-w64, checks that the 32-bit DLL exports
# exactly the five stdcall-decorated names, and runs the 64-bit test host under wine64.
# Usage: check_windows.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1
work=$2
mkdir -p "$work"
for tool in i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ i686-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || { echo "missing $tool (run .ci/setup)"; exit 1; }
done
[ -x /usr/lib/wine/wine64 ] || { echo "missing /usr/lib/wine/wine64 (run .ci/setup)"; exit 1; }

build() {  # arch targets...
  local arch=$1; shift
  cmake -S "$src" -B "$work/$arch" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTALVERIN_TESTS=OFF -DTALVERIN_BENCH=OFF >/dev/null
  cmake --build "$work/$arch" -j2 --target "$@" >/dev/null
}

build i686 talverin
exports=$(i686-w64-mingw32-objdump -p "$work/i686/talverin.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -o '_[A-Za-z]*@[0-9]*' | sort | tr '\n' ' ')
expected="_Abort@0 _AutoDetect@4 _ConvertFile@12 _GetErrString@4 _SetFactoryDefaults@8 "
echo "32-bit exports: $exports"
if [ "$exports" != "$expected" ]; then
  echo "32-bit export table differs: expected $expected"
  exit 1
fi

build x86_64 talverin talverin_win_host
run="$work/run"
rm -rf "$run" && mkdir -p "$run"
cp "$work/x86_64/talverin.dll" "$work/x86_64/tests/windows/talverin_win_host.exe" "$run/"
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all
cd "$run"
timeout 600 /usr/lib/wine/wine64 talverin_win_host.exe talverin.dll "Z:${run//\//\\}"
