#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo journey against the bundled demo site.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
PYTHONPATH=build/python /usr/bin/python3 examples/demo_journey.py "$@"
