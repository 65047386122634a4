#!/usr/bin/env bash
# Rewrites the README's reference section from the descriptor table and its descriptions.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target varne_reference >/dev/null
build/python/varne_reference update README.md
