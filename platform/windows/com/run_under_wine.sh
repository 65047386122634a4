#!/bin/sh
# run_under_wine.sh PREFIX PROGRAM ARGS...: runs a Windows program of the build under Wine, in a
# prefix of the build's own (made on first use), quietly and with a time limit.
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
exec timeout 300 wine "$@"
