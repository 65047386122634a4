#!/bin/sh
# run_under_wine.sh PREFIX PROGRAM ARGS...: runs a Windows program of the build under Wine, in a
# prefix of the build's own (made on first use), quietly and with a time limit.
. "$(dirname "$0")/../../../scripts/wine-env.sh" "$1"
shift
exec timeout 300 wine "$@"
