#!/bin/sh
# Runs a Windows program of this build under Wine with the build's loader.
# The prefix and the loader come from the environment that CTest sets.
set -eu
. "$(dirname "$0")/../../tools/lib.sh"
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
exec "$TARNWICK_WINE_LOADER" "$@"
