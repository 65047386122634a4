#!/usr/bin/env bash
# Installs what is missing, builds the Python module (and the library under it) and nothing
# else, and runs the demo journey against the bundled demo site. It builds into build/, the
# folder of scripts/build.sh and scripts/test.sh, with the same build type and options, so those
# rebuild nothing of what it built and it leaves their unit tests alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target varne_python
PYTHONPATH=build/python /usr/bin/python3 examples/demo_journey.py "$@"
