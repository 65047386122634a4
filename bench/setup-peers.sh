#!/usr/bin/env bash
# Installs what the peer benchmark drives besides Varne: Node and npm from Debian unless there, and the peers' client
# packages from npm into bench/peers/node_modules (the -core packages, which bring no browser of
# their own: they drive the system's Chromium). Does nothing that is already there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/install-missing.sh"
command -v node >/dev/null || install_missing bench-peers nodejs
command -v npm >/dev/null || install_missing bench-peers npm
peers="$root/bench/peers"
if [ ! -d "$peers/node_modules/playwright-core" ] || [ ! -d "$peers/node_modules/puppeteer-core" ]; then
    echo "bench-peers: installing the peers' npm packages"
    PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 PUPPETEER_SKIP_DOWNLOAD=1 \
        npm install --prefix "$peers" --no-audit --no-fund --loglevel=error
fi
