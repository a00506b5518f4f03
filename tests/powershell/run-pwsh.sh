#!/bin/sh
# Runs a PowerShell script with this build's library registered: the tests'
# PowerShell (tools/pwsh-host.sh) under the 64-bit Wine 10 of the amd64
# Debian 13 root (tools/debian-root.sh), in a prefix of the build folder.
#   run-pwsh.sh BUILD [--last-line LINE] SCRIPT.ps1 [ARG...]
#                             runs the script and prints its output (without
#                             the CRs); the script's exit code. With
#                             --last-line, a script that exits 0 without
#                             LINE as its last line has stopped early: 1
#   run-pwsh.sh BUILD --stop  removes the build's prefixes, and unmounts the
#                             root unless programs of other builds still
#                             run there
# What is missing is made first: the root (some minutes, once), the host
# (once for each change of its sources) and the prefix,
# BUILD/prefixes/TARNWICK_PWSH_PREFIX (default powershell; --stop removes
# those named powershell*). The library
# (TARNWICK_DLL, default BUILD/library/Tarnwick.dll) is registered before
# every script, so a rebuilt one serves; a prefix serves one library (the
# test build's, whose restart calls go to a stand-in, has a prefix of its
# own). Runs as root (chroot, mount).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
usage() { echo "usage: $0 BUILD [--last-line LINE] SCRIPT.ps1 [ARG...] | BUILD --stop" >&2; exit 2; }
[ $# -ge 2 ] || usage
build=$(realpath "$1")
shift
# The root's Wine stands for lib.sh's loader and server.
export TARNWICK_WINE_BIN="$project/tools/amd64"
. "$project/tools/lib.sh"
prefix_name=${TARNWICK_PWSH_PREFIX:-powershell}
export WINEPREFIX="$build/prefixes/$prefix_name"
root_script=$project/tools/debian-root.sh
root_dir=${TARNWICK_AMD64_ROOT:-/var/tmp/tarnwick-amd64-root}

if [ "$1" = --stop ]; then
    if mountpoint -q "$root_dir/proc"; then
        for prefix in "$build"/prefixes/powershell*; do
            [ ! -f "$prefix/.tarnwick-prefix" ] ||
                WINEPREFIX=$prefix "$project/tools/wine-prefix.sh" destroy "$prefix"
        done
        # The root is shared by every build folder: another build's tests
        # may run there still. (The prefixes' own programs take a moment
        # to end.)
        in_root() {
            for process in /proc/[0-9]*; do
                [ "$(readlink "$process/root" 2>/dev/null)" != "$root_dir" ] || return 0
            done
            return 1
        }
        waited=0
        while in_root; do
            if [ "$waited" -ge 10 ]; then
                # This build folder's own mounts go all the same.
                for mount in $(mounted_under "$root_dir$build"); do
                    umount "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null || true
                done
                echo "run-pwsh: programs of other prefixes still run in $root_dir; leaving it mounted"
                exit 0
            fi
            sleep 1
            waited=$((waited + 1))
        done
    fi
    exec "$root_script" amd64 stop
fi
last_line=
if [ "$1" = --last-line ]; then
    [ $# -ge 3 ] || usage
    last_line=$2
    shift 2
fi
script=$(realpath "$1")
shift
[ -f "$script" ] || { echo "run-pwsh: no script $script" >&2; exit 2; }
dll=$(realpath "${TARNWICK_DLL:-$build/library/Tarnwick.dll}")
[ -f "$dll" ] || { echo "run-pwsh: no library $dll (build the target Tarnwick)" >&2; exit 2; }

pwsh=$("$project/tools/pwsh-host.sh")

# The root started with every folder the script needs mounted, the prefix
# booted once, the library registered. (Run in a list, where set -e does
# not stop at a failure: each step says its own.)
set_up() {
    "$root_script" amd64 start "$project" "$build" "$(dirname "$pwsh")" "$(dirname "$script")" "$(dirname "$dll")" ||
        return
    [ -f "$WINEPREFIX/.tarnwick-prefix" ] || "$project/tools/wine-prefix.sh" create "$WINEPREFIX" || return
    # Wine's regsvr32 says its success even when told to be silent.
    registered=$(cd "$build" && "$wine64" regsvr32 /s "$(windows_path "$dll")" 2>&1) || {
        printf '%s\n' "$registered" >&2
        echo "run-pwsh: regsvr32 failed to register $dll" >&2
        return 1
    }
}
mkdir -p "$build/prefixes"
# One set-up at a time: scripts that start together wait for the first. The
# lock's descriptor is closed for the set-up, whose Wine server and services
# outlive it and would hold the lock.
(flock 9 && set_up 9>&-) 9>"$build/prefixes/$prefix_name.lock"

cd "$build"
# No display, and no debug output unless WINEDEBUG asks (lib.sh). .NET
# stays enabled: Wine's loader hands every IL-only image of the runtime to
# its mscoree.dll (lib.sh disables it for the prefix's first boot only,
# which would offer to install Wine's own .NET). No HTML engine, and no
# script scanning: Wine's amsi.dll scans nothing, and without it the shell
# skips the scan. No colours, no telemetry or update check: the output is a
# log's, the network not the test's.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mshtml=;amsi=d" NO_COLOR=1 \
    POWERSHELL_TELEMETRY_OPTOUT=1 POWERSHELL_UPDATECHECK=Off
rc=0
out=$("$wine64" "$pwsh/pwsh.exe" -NoProfile -NonInteractive -File "$(windows_path "$script")" "$@" </dev/null 2>&1) ||
    rc=$?
out=$(printf '%s\n' "$out" | tr -d '\r')
printf '%s\n' "$out"
if [ "$rc" -eq 0 ] && [ -n "$last_line" ] && [ "$(printf '%s\n' "$out" | tail -n 1)" != "$last_line" ]; then
    echo "run-pwsh: the script stopped before its last line \"$last_line\"" >&2
    exit 1
fi
exit "$rc"
