#!/usr/bin/env bash
# Configures and builds Varne into build/ (the library, the Python module in build/python, the
# examples and, unless -DVARNE_BUILD_TESTS=OFF is given, the tests). Extra arguments go to
# cmake; every script builds into this one folder with this one build type, so running one
# after another rebuilds nothing that is up to date.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j "$(nproc)"
