#!/usr/bin/env bash
# The Windows suite as the random-fault campaign runs it for each mutant (docs/TESTING.md): under
# Wine in the throwaway prefix $WINEPREFIX (made with `wine64 wineboot -i`) on the display
# $DISPLAY, ending at a test binary's first failure. Whatever the run before left in the prefix
# (a Corvane.exe that crashed and waits under winedbg holds the single-instance mutex) goes first.
set -u
: "${WINEPREFIX:?the throwaway Wine prefix}" "${DISPLAY:?an X display, e.g. Xvfb :90}"
export CORVANE_THROWAWAY_PREFIX=$WINEPREFIX GTEST_FAIL_FAST=1 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" PATH="/usr/lib/wine:$PATH"
wineserver -k 2> /dev/null
wineserver -w 2> /dev/null
ctest --preset windows -j1 --timeout 300 --stop-on-failure
status=$?
wineserver -k 2> /dev/null
exit $status
