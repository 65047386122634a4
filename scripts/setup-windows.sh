#!/usr/bin/env bash
# Installs the Debian packages of the Windows build and its tests under Wine, when missing: the
# mingw-w64 compilers (the -posix ones carry the C++ thread library), widl and Wine.
set -euo pipefail
# shellcheck source=install-missing.sh
source "$(dirname "$0")/install-missing.sh"

packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 libwine-dev)

install_missing setup-windows "${packages[@]}"
