#!/bin/sh
# Creates (or removes) a private Wine prefix for one build's tests and demo.
#   wine-prefix.sh create PREFIX   - boot a fresh prefix, no display, no install prompts
#   wine-prefix.sh destroy PREFIX  - stop its server and delete it
set -eu
action=$1
prefix=$(realpath -m "$2")
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The 64-bit loader makes and starts the prefix (a 64-bit one, as Debian's
# wine would make it): it also runs on machines that cannot start 32-bit
# programs, where the wine command itself fails.
wine=/usr/lib/wine/wine64
case "$action" in
create)
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
    mkdir -p "$prefix"
    "$wine" wineboot -i >/dev/null 2>&1
    # Hidden windows instead of none: a message box really blocks and can be found.
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
    # Start the server and the prefix's services now, detached from every
    # test's output: a test whose first program started them would otherwise
    # be held open until they exit.
    wineserver -p </dev/null >/dev/null 2>&1
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
    ;;
destroy)
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
    ;;
*)
    echo "usage: $0 create|destroy PREFIX" >&2
    exit 2
    ;;
esac
