# The COM server under Wine (sourced by scripts/test-windows.sh, in its prefix): registration, the
# VBScript and JScript scripts of each class, the early-bound C++ client, unregistration. The
# Browser scripts wait for a build that can start a browser from Windows.
browser=()
if grep -q "No browser can be started from this build yet" platform/windows/browser_launch.cpp 2>/dev/null; then
  echo "10-com.sh: this build starts no browser from Windows yet; the Browser scripts are left out"
  browser=(--no-browser)
fi
/usr/bin/python3 tests/windows/com/run_com_tests.py --build build-windows --prefix "$WINEPREFIX" "${browser[@]}"
