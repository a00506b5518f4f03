#!/bin/sh
# Runs a Windows program of this build under Wine with the build's loader.
# The prefix and the loader come from the environment that CTest sets.
set -eu
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec "$TARNWICK_WINE_LOADER" "$@"
