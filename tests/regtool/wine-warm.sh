#!/bin/sh
# Runs a Windows program under Wine in the prefix named by WINEPREFIX, with
# the loader in TARNWICK_WINE_LOADER.
#   wine-warm.sh PROGRAM [ARGS...]
# The prefix's server and services are started first, with no standard
# streams: started by the program itself they would inherit the test's output
# and hold it open for seconds after the program has ended.
set -eu
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
"$TARNWICK_WINE_LOADER" cmd /c exit </dev/null >/dev/null 2>&1 || true
exec "$TARNWICK_WINE_LOADER" "$@"
