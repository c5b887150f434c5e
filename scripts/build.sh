#!/usr/bin/env bash
# Builds LAME's lame_enc.dll for both Windows builds, the 64-bit and the
# 32-bit program with their tests, and the native pieces, each in its own
# folder under build/.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"
jobs=$(nproc)

configure() {
  local dir=$1
  shift
  cmake -S . -B "build/$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

if [ "${CALBRUNE_SKIP_WIN32:-0}" != 1 ]; then
  bash scripts/build-lame.sh x86_64 i686
else
  bash scripts/build-lame.sh x86_64
fi

configure win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$repo_root/scripts/wine-run.sh"
cmake --build build/win64 -j "$jobs" "$@"

if [ "${CALBRUNE_SKIP_WIN32:-0}" != 1 ]; then
  configure win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$repo_root/scripts/wine-run.sh"
  cmake --build build/win32 -j "$jobs" "$@"
fi

configure native
cmake --build build/native -j "$jobs" "$@"
