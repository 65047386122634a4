#!/usr/bin/env bash
# Builds the Debian packages (libvarne1, libvarne-dev, python3-varne) and a Python wheel from
# the build in build/ (the one scripts/build.sh makes), into build/packages/.
#
#     apt-get install ./build/packages/*.deb          # then /usr/bin/python3 -c "import varne"
#     pip install build/packages/varne-*.whl          # needs no network
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh "$@"
rm -rf build/packages
if ! cpack --config build/CPackConfig.cmake -B "$PWD/build/packages" >build/package.log 2>&1; then
  cat build/package.log >&2
  exit 1
fi
rm -rf build/packages/_CPack_Packages
/usr/bin/python3 scripts/make_wheel.py build build/packages
ls -1 build/packages
