#!/bin/sh
# Builds the benchmarks (Release, in build-bench/ at the top of the tree) and runs them: the C++
# benchmark and the Python client against pages served on 127.0.0.1, printed as one table.
# Arguments go to python_client_bench.py (--detail splits a browser's start into its parts).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNE_BUILD_BENCH=ON \
    -DVARNE_BUILD_TESTS=OFF -DVARNE_BUILD_EXAMPLES=OFF >/dev/null
ninja -C "$build" -j2 browser_bench varne_python >/dev/null
PYTHONPATH="$build/python" exec /usr/bin/python3 "$root/bench/python_client_bench.py" \
    --browser-bench "$build/bench/browser_bench" "$@"
