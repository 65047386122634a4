# Sourced by every script that runs the Windows build under Wine: `source scripts/wine-env.sh PREFIX`
# makes Wine use the prefix PREFIX (made on first use), 64-bit, quiet, without the .NET and HTML
# installers that a new prefix would otherwise ask for, and without a display.
export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
