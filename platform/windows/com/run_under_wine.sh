#!/bin/sh
# run_under_wine.sh PREFIX PROGRAM ARGS...: runs a Windows program of the build under Wine, in a
# prefix of the build's own (made on first use), quietly and with a time limit.
export WINEPREFIX=$1
shift
# shellcheck source=../../../scripts/wine-env.sh
. "$(dirname "$0")/../../../scripts/wine-env.sh"
exec timeout 300 wine "$@"
