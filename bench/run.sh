#!/bin/sh
# Builds the benchmarks with the rest of the tree (scripts/build.sh, in build/) and runs them: the
# C++ benchmark and the Python client against pages served on 127.0.0.1, printed as one table,
# then later Browsers against the peers' new contexts (setup-peers.sh installs the peers).
# Arguments go to python_client_bench.py (--detail splits a browser's start into its parts).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" -DVARNE_BUILD_BENCH=ON
"$root/bench/setup-peers.sh"
PYTHONPATH="$root/build/python" /usr/bin/python3 "$root/bench/python_client_bench.py" \
    --browser-bench "$root/build/bench/browser_bench" "$@"
PYTHONPATH="$root/build/python" exec /usr/bin/python3 "$root/bench/peer_context_bench.py"
