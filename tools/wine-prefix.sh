#!/bin/sh
# Creates (or removes) a private Wine prefix for one build's tests and demo.
#   wine-prefix.sh create PREFIX   - boot a fresh prefix, no display, no install prompts
#   wine-prefix.sh destroy PREFIX  - stop its server and delete it
# Both remove only what this script made: a folder it created carries a
# marker file, and any other existing folder is refused.
set -eu
. "$(dirname "$0")/lib.sh"
action=$1
prefix=$(realpath -m "$2")
marker=.tarnwick-prefix
export WINEPREFIX="$prefix"

# The prefix's server goes before its folder.
end_server() { "$wineserver" -k 2>/dev/null || true; }

case "$action" in
create)
    fresh_folder "$prefix" "$marker" end_server || exit 1
    # The 64-bit loader makes and starts the prefix (a 64-bit one, as
    # Debian's wine would make it; for aarch64, the arm64 root's).
    # Now and then, on a loaded machine, the first boot of a prefix ends at
    # once with a failure; a second one is tried, and a second failure is
    # said with its output.
    if ! "$wine64" wineboot -i >/dev/null 2>&1; then
        echo "wine-prefix.sh: wineboot failed in $prefix; trying once more" >&2
        sleep 2
        "$wine64" wineboot -i || { echo "wine-prefix.sh: wineboot failed again" >&2; exit 1; }
    fi
    # The prefix presents Windows 10, as the machines users run do: the
    # version the system reports and the values under Windows NT's
    # CurrentVersion key, in both registry views.
    "$wine64" winecfg -v win10 >/dev/null 2>&1
    # Hidden windows instead of none: a message box really blocks and can be found.
    "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # A program that crashes fails at once: the debugger Wine starts for it
    # would otherwise wait on its hidden crash dialog until the test's time
    # runs out.
    "$wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    "$wineserver" -w
    # Start the server and the prefix's services now, detached from every
    # test's output: a test whose first program started them would otherwise
    # be held open until they exit.
    "$wineserver" -p </dev/null >/dev/null 2>&1
    "$wine64" cmd /c exit </dev/null >/dev/null 2>&1 || true
    ;;
destroy)
    remove_marked "$prefix" "$marker" end_server || exit 1
    ;;
*)
    echo "usage: $0 create|destroy PREFIX" >&2
    exit 2
    ;;
esac
