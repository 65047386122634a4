#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tests, in named stages that run in this order:
#   unit         the unit tests
#   sanitize     the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   install      the installed library, found with find_package(Varne) and pkg-config
#   packages     the Debian packages and the wheel
#   windows      Varne.dll and the unit tests cross-compiled, run under Wine
#   python       the layer check and the Python module's tests
#   integration  the integration tests against real browsers
#   format       the format check
#   tidy         clang-tidy over the library's sources
# `scripts/test.sh unit tidy` runs those stages alone; without an argument every stage runs.
set -euo pipefail
cd "$(dirname "$0")/.."

all_stages=(unit sanitize install packages windows python integration format tidy)
stages=("$@")
((${#stages[@]})) || stages=("${all_stages[@]}")
for stage in "${stages[@]}"; do
  [[ " ${all_stages[*]} " == *" $stage "* ]] || {
    echo "test.sh: no stage '$stage'; the stages are: ${all_stages[*]}" >&2
    exit 2
  }
done
selected() { [[ " ${stages[*]} " == *" $1 "* ]]; }

scripts/setup.sh
# The stages that use the build in build/ build it once, up to date, before the first of them; the
# benchmarks are built too, so that a change of the code they drive cannot leave them behind.
if selected unit || selected install || selected packages || selected python || selected integration ||
  selected tidy; then
  scripts/build.sh -DVARNE_BUILD_TESTS=ON -DVARNE_BUILD_BENCH=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
fi

stage_unit() {
  ctest --test-dir build --output-on-failure -j "$(nproc)"
}

stage_sanitize() {
  cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNE_SANITIZE=ON \
    -DVARNE_BUILD_PYTHON=OFF -DVARNE_BUILD_EXAMPLES=OFF >/dev/null
  cmake --build build-sanitize -j "$(nproc)"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
}

# Builds tests/install (find_package, pkg-config, the C++ demo) against the Varne installed
# under the prefix $1 and runs the two small consumers.
check_installed() {
  local prefix=$1 consumer=$2
  PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name varne.pc)")" \
    cmake -S tests/install -B "$consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$consumer" >/dev/null
  local libdir
  libdir="$(dirname "$(find "$prefix" -name 'libvarne.so.1')")"
  LD_LIBRARY_PATH="$libdir" "$consumer/varne_consumer"
  LD_LIBRARY_PATH="$libdir" "$consumer/varne_consumer_pkgconfig"
}

stage_install() {
  rm -rf build/install-check
  cmake --install build --prefix "$PWD/build/install-check/prefix" >/dev/null
  check_installed "$PWD/build/install-check/prefix" build/install-check/consumer
}

stage_packages() {
  scripts/package.sh -DVARNE_BUILD_TESTS=ON >/dev/null
  local check="$PWD/build/package-check"
  rm -rf "$check"
  mkdir -p "$check/root"
  for deb in build/packages/*.deb; do dpkg-deb -x "$deb" "$check/root"; done
  # Only the public headers, flat under include/varne; no folders of the library's own.
  # The listing is read whole before it is searched: grep -q stopping early would end dpkg-deb with
  # SIGPIPE, which pipefail reports as a failure.
  local dev_files
  dev_files="$(dpkg-deb -c build/packages/libvarne-dev_*.deb)"
  grep -q '/usr/include/varne/varne.h$' <<<"$dev_files"
  if grep -E '/usr/include/varne/.+/' <<<"$dev_files"; then
    echo "libvarne-dev installs headers in folders"
    exit 1
  fi
  # The module in Debian's module folder finds the library through its run path alone.
  (cd / && /usr/bin/python3 -I -c '
import sys
sys.path.insert(0, sys.argv[1])
import varne
assert varne.__file__.startswith(sys.argv[1]), varne.__file__
assert varne.__version__ == "1.0.0.14", varne.__version__
timing = varne.CreateObject("Varne.Timing")
timing.StartTiming("Installed")
print("python3-varne", varne.__version__, "from", varne.__file__)
' "$check/root/usr/lib/python3/dist-packages")
  check_installed "$check/root/usr" "$check/consumer"
  # The wheel installs without network into a fresh environment.
  /usr/bin/python3 -m venv "$check/venv"
  "$check/venv/bin/pip" install -q --no-index --no-deps build/packages/varne-*.whl
  (cd / && "$check/venv/bin/python" -c 'import varne; print("wheel", varne.__version__, "from", varne.__file__)')
}

stage_windows() {
  scripts/test-windows.sh
}

stage_python() {
  PYTHONPATH=build/python /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/layers tests/python
}

stage_integration() {
  PYTHONPATH=build/python /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/integration
}

stage_format() {
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
}

# The checks of .clang-tidy over the library's own sources (not its tests), as the build in build/
# compiles them; any warning fails the stage. A developer narrows it with VARNE_TIDY_BASE=main to the
# sources that differ from that branch's merge base: the whole tree takes minutes on two cores.
stage_tidy() {
  local base="" changed=()
  if [ -n "${VARNE_TIDY_BASE:-}" ]; then
    base=$(git merge-base HEAD "$VARNE_TIDY_BASE")
    mapfile -t changed < <(git diff --name-only "$base" -- '*.cpp')
  fi
  /usr/bin/python3 - "$base" "${changed[@]}" <<'PYTHON' | xargs -r -P "$(nproc)" -n 4 clang-tidy -p build --quiet
import json, os, sys
base, changed = sys.argv[1], set(sys.argv[2:])
root = os.getcwd() + "/"
sources = sorted({entry["file"][len(root):] for entry in json.load(open("build/compile_commands.json"))
                  if entry["file"].startswith(root)})
for source in sources:
    if source.split("/")[0] not in ("tests", "examples", "bench", "build") and (not base or source in changed):
        print(source)
PYTHON
}

for stage in "${all_stages[@]}"; do
  if selected "$stage"; then
    echo "== $stage"
    "stage_$stage"
  fi
done
