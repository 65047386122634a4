#!/usr/bin/env bash
# Cross-compiles Varne for 64-bit Windows into build-windows/ (Varne.dll and the unit tests) with
# Debian's mingw-w64, installing the compilers and Wine when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-windows.sh
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-windows -j "$(nproc)"
