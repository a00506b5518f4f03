#!/bin/sh
# Runs one sample under Wine and checks its output.
#   run-example.sh EXPECT SAMPLE [ARGS...]
# SAMPLE is a .vbs or .js file (run by the build's script host), a .ps1 file
# (run by tests/powershell/run-pwsh.sh for the build folder TARNWICK_BUILD,
# in a prefix of its own) or a program. Every line of EXPECT that is neither
# empty nor a comment is an extended regular expression that must match one
# whole line of the output.
# The sample must also end with exit code 0 and print "Done." as its last
# line: the script host exits 0 even when a script dies halfway, so only the
# closing line shows that the sample ran to its end. Prints the output, one
# line per failed check and "N passed, M failed".
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/lib.sh"
expect=$1
sample=$2
shift 2
case "$sample" in
*.ps1) set -- "$here/../powershell/run-pwsh.sh" "${TARNWICK_BUILD:?}" "$sample" "$@" ;;
*)
    : "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
    case "$sample" in
    *.vbs|*.js) set -- "$TARNWICK_WINE_LOADER" cscript //nologo "$(windows_path "$sample")" "$@" ;;
    *) set -- "$TARNWICK_WINE_LOADER" "$sample" "$@" ;;
    esac
    ;;
esac
rc=0
out=$("$@" 2>&1) || rc=$?
if [ "$rc" -ne 0 ] && [ -z "$out" ]; then
    # The host ended before the sample's first line, saying nothing: Wine's
    # script host leaves silently when it cannot start its engine (it says
    # why only on its fixme and err channels). That is no fault of the
    # sample's; it runs once more, with those channels on, and the second
    # run counts.
    echo "run-example: the script host ended with exit code $rc before the sample's first line;"
    echo "run-example: a second run, with Wine's fixme and err channels (their lines first):"
    channels=$(mktemp)
    rc=0
    out=$(WINEDEBUG=fixme+all,err+all "$@" 2>"$channels") || rc=$?
    sed 's/^/  wine: /' "$channels"
    rm -f "$channels"
fi
out=$(printf '%s\n' "$out" | tr -d '\r')
printf '%s\n' "$out"
passed=0
failed=0
check() {
    if [ "$1" = ok ]; then passed=$((passed + 1)); else
        echo "FAILED: $2"; failed=$((failed + 1)); fi
}
[ "$rc" -eq 0 ] && check ok || check no "exit code $rc"
[ "$(printf '%s\n' "$out" | tail -n 1)" = Done. ] && check ok ||
    check no "the sample stopped before its closing line \"Done.\""
while IFS= read -r pattern || [ -n "$pattern" ]; do
    case "$pattern" in ''|'#'*) continue ;; esac
    printf '%s\n' "$out" | grep -qxE -- "$pattern" && check ok || check no "no line matches: $pattern"
done < "$expect"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
