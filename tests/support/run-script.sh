#!/bin/sh
# Runs one VBScript or JScript test under the build's script host, with the
# shared checks of this folder (checks.vbs or checks.js) put in front of it.
# The script ends by calling Finish, which prints "N passed, M failed"; the
# test passes only when that line is present and M is 0, since the script
# host exits 0 even when the script itself dies.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/lib.sh"
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
if ! "$TARNWICK_WINE_LOADER" --version >/dev/null 2>&1; then
    # The 32-bit loader, where the machine cannot start 32-bit programs.
    echo "SKIPPED: $TARNWICK_WINE_LOADER cannot start on this machine"
    exit 77
fi
script=$1
shift
extension=${script##*.}
combined=$(mktemp "${TMPDIR:-/tmp}/tarnwick-script.XXXXXX")
trap 'rm -f "$combined" "$combined.$extension"' EXIT
cat "$here/checks.$extension" "$script" >"$combined.$extension"
out=$("$TARNWICK_WINE_LOADER" cscript //nologo "$(windows_path "$combined.$extension")" "$@" 2>&1) || rc=$? && rc=${rc:-0}
printf '%s\n' "$out" | tr -d '\r'
last=$(printf '%s\n' "$out" | tr -d '\r' | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -n 1 || true)
if [ -z "$last" ]; then
    echo "no result line: the script stopped early" >&2
    exit 1
fi
case "$last" in
*" 0 failed") [ "$rc" -eq 0 ] || { echo "script host exit code $rc" >&2; exit 1; } ;;
*) exit 1 ;;
esac
