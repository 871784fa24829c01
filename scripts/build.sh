#!/usr/bin/env bash
# Configures and builds both targets: the host tests and the Windows program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
[ -f build/host/build.ninja ] || cmake -S . -B build/host -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
[ -f build/win32/build.ninja ] || cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
cmake --build build/host
cmake --build build/win32
