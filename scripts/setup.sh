#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Windows cross-build need,
# only when one of them is missing. Chromium renders the quality report in its tests;
# clang-tidy lints the shipped code and node checks the report page's script.
set -euo pipefail
packages=(cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          libgeographiclib-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64
          clang clang-format clang-tidy libclang-rt-14-dev rtklib help2man dpkg-dev libtinyxml2-dev
          nlohmann-json3-dev libpng-dev chromium nodejs)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
