#!/usr/bin/env bash
# The Windows release archives, cross-built with MinGW-w64: talverin.exe with the DLL beside
# it, the README and the command reference, for 64-bit (talverin-VERSION-windows-x86_64.zip)
# and 32-bit Windows (talverin-VERSION-windows-x86.zip), built in BUILD_ROOT/x86_64 and
# BUILD_ROOT/i686 (the folders the Windows tests use). Each program must need no DLL beyond
# Windows' own. tests/windows/check_program.sh runs the 64-bit one under wine64; wine here
# runs no 32-bit program, so the 32-bit one is only built and its imports checked.
# Example: scripts/package-windows.sh [BUILD_ROOT (default build/windows)]
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-build/windows}
for arch in x86_64 i686; do
  cmake --no-warn-unused-cli -S . -B "$root/$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTALVERIN_TESTS=OFF -DTALVERIN_BENCH=OFF >/dev/null
  cmake --build "$root/$arch" -j2 --target package >/dev/null
  imports=$("$arch-w64-mingw32-objdump" -p "$root/$arch/talverin.exe" |
    sed -n 's/^\tDLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
  echo "$arch talverin.exe imports: $imports"
  for dll in $imports; do
    case $dll in
      kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll) ;;
      *) echo "FAILED: $arch talverin.exe needs $dll" && exit 1 ;;
    esac
  done
  ls "$root/$arch"/talverin-*.zip
done
