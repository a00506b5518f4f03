#!/bin/sh
# Starts the Wine session of a prefix for good: a server that stays up until
# the prefix is destroyed, and the system processes (services, desktop,
# device drivers) that the first program of a session starts. All of them
# get /dev/null as their output. A test program that starts the session
# itself passes its own output to those processes, and CTest then waits for
# them to end before it takes the test as finished.
set -eu
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
wineserver -p </dev/null >/dev/null 2>&1 || true
"$TARNWICK_WINE_LOADER" cmd /c exit </dev/null >/dev/null 2>&1
