#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit tests (also under
# AddressSanitizer and UndefinedBehaviorSanitizer), the Python and integration tests
# against real Chromium, and the format check.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh

echo "== unit tests"
ctest --test-dir build --output-on-failure -j "$(nproc)"

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNE_SANITIZE=ON \
  -DVARNE_BUILD_PYTHON=OFF -DVARNE_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-sanitize -j "$(nproc)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"

echo "== the installed library, found with find_package(Varne)"
rm -rf build/install-check
cmake --install build --prefix "$PWD/build/install-check/prefix" >/dev/null
cmake -S tests/install -B build/install-check/consumer -G Ninja \
  -DCMAKE_PREFIX_PATH="$PWD/build/install-check/prefix" >/dev/null
cmake --build build/install-check/consumer >/dev/null
LD_LIBRARY_PATH="$PWD/build/install-check/prefix/lib" build/install-check/consumer/varne_consumer

echo "== Windows: Varne.dll and the unit tests cross-compiled, run under Wine"
scripts/test-windows.sh

echo "== Python and integration tests"
PYTHONPATH=build/python /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python tests/integration

echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
