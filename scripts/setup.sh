#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Varne needs, when missing.
set -euo pipefail
# shellcheck source=install-missing.sh
source "$(dirname "$0")/install-missing.sh"
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config
  dpkg-dev file python3-venv
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev pybind11-dev python3-dev python3-pytest
  chromium firefox-esr fonts-dejavu-core xvfb xauth
  libboost-dev openjdk-17-jre-headless chromium-driver python3-websocket
  python3-xlrd libgsf-bin
  libreoffice-calc-nogui
  clang libclang-rt-14-dev clang-format clang-tidy
)

install_missing setup "${packages[@]}"

# The Grid's server, for the tests of browsers elsewhere.
scripts/setup-grid.sh
# The Windows build and its tests under Wine.
scripts/setup-windows.sh
