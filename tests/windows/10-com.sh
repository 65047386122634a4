# The COM server under Wine (sourced by scripts/test-windows.sh, in its prefix): registration, the
# VBScript and JScript scripts of each class, the early-bound C++ client, unregistration.
/usr/bin/python3 tests/windows/com/run_com_tests.py --build build-windows --prefix "$WINEPREFIX"
