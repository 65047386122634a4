# Sourced by every script that runs the Windows build under Wine, once it has set WINEPREFIX to the
# prefix it uses (made on first use): Wine runs 64-bit, quiet, without the .NET and HTML installers
# that a new prefix would otherwise ask for, and without a display.
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
