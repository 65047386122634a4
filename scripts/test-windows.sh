#!/usr/bin/env bash
# Builds Varne for Windows (scripts/build-windows.sh) and runs its tests under Wine in a fresh
# prefix (build-windows/wine-prefix): the cross-compiled unit tests (tests/bin/*_test.exe and
# *_tests.exe; helper programs beside them have other names), then every file of
# tests/windows/ in name order:
#   *.sh           sourced in a subshell, with wine_step (below) and $VARNE_DLL at hand
#                  (registration, unregistration, checks of the registry, C++ clients);
#   *.vbs, *.js    run by `wine cscript //nologo`; each must end by printing "N passed, N failed"
#                  with 0 failed, since the script host exits 0 even on a script error.
# Every Wine step runs under `timeout`; the time of each step is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

steps=()
# step NAME COMMAND...: runs the command, keeps its time for the summary, stops the job on failure.
step() {
  local name=$1
  shift
  local start end
  start=$(date +%s.%N)
  local status=0
  "$@" || status=$?
  end=$(date +%s.%N)
  steps+=("$(printf '%-44s %7.1f s%s' "$name" "$(awk "BEGIN { print $end - $start }")" "$([ $status -eq 0 ] || echo '  FAILED')")")
  if [ $status -ne 0 ]; then
    echo "test-windows: $name failed (status $status)" >&2
    summary
    exit 1
  fi
}

summary() {
  echo "== Windows job, time per step"
  printf '  %s\n' "${steps[@]}"
}

# wine_step SECONDS COMMAND...: one Wine command with a time limit.
wine_step() {
  local seconds=$1
  shift
  timeout --kill-after=10 "$seconds" wine "$@"
}

# The script must end with "N passed, N failed" and count no failure.
run_script() {
  local script=$1 output
  output=$(timeout --kill-after=10 300 wine cscript //nologo "$(winepath -w "$script")" 2>&1) || {
    echo "$output"
    echo "test-windows: $script ended with status $?" >&2
    return 1
  }
  echo "$output"
  local last
  last=$(printf '%s\n' "$output" | tr -d '\r' | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -n 1)
  if [ -z "$last" ]; then
    echo "test-windows: $script printed no 'N passed, N failed' line (a script error ends it silently)" >&2
    return 1
  fi
  [[ $last =~ ^[0-9]+\ passed,\ 0\ failed$ ]]
}

job_start=$(date +%s.%N)
step "build Varne.dll and the unit tests" scripts/build-windows.sh
export VARNE_DLL=$PWD/build-windows/Varne.dll
echo "== Varne.dll: $(stat -c %s "$VARNE_DLL") bytes"

# shellcheck source=scripts/wine-env.sh
export WINEPREFIX=$PWD/build-windows/wine-prefix
source scripts/wine-env.sh
timeout 30 wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
step "fresh Wine prefix" timeout --kill-after=10 180 wineboot --init
step "null display driver, no crash dialog" bash -c '
  timeout 60 wine reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f >/dev/null &&
  timeout 60 wine reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null &&
  timeout 60 wineserver -k; timeout 60 wineserver -w; true'

# A 64 KiB disk for the full-disk tests of the file adapter, reached through Wine's Z: drive; only
# root may mount one, elsewhere those tests skip.
small_disk=$PWD/build-windows/small-disk
mkdir -p "$small_disk"
if mountpoint -q "$small_disk" || mount -t tmpfs -o size=64k tmpfs "$small_disk" 2>/dev/null; then
  trap 'umount "$small_disk" 2>/dev/null || true' EXIT
  export VARNE_TEST_SMALL_DISK="Z:${small_disk//\//\\}"
fi

for test in build-windows/tests/bin/*_test.exe build-windows/tests/bin/*_tests.exe; do
  step "unit tests $(basename "$test")" wine_step 300 "$test" --gtest_brief=1
done

shopt -s nullglob
for file in tests/windows/*; do
  case $file in
    *.sh) step "$(basename "$file")" bash -c "set -euo pipefail; $(declare -f wine_step); source '$file'" ;;
    *.vbs | *.js) step "$(basename "$file")" run_script "$file" ;;
  esac
done

timeout 30 wineserver -k 2>/dev/null || true
summary
printf '  %-44s %7.1f s\n' "whole Windows job" "$(awk "BEGIN { print $(date +%s.%N) - $job_start }")"
