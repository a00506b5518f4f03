#!/bin/sh
# Runs one sample under Wine and checks its output.
#   run-example.sh EXPECT SAMPLE [ARGS...]
# SAMPLE is a .vbs or .js file (run by the build's script host) or a
# program. Every line of EXPECT that is neither empty nor a comment is an
# extended regular expression that must match one whole line of the output;
# the sample must also end with exit code 0. Prints the output, one line per
# failed check and "N passed, M failed".
set -eu
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
expect=$1
sample=$2
shift 2
case "$sample" in
*.vbs|*.js) set -- cscript //nologo "$(winepath -w "$sample" 2>/dev/null)" "$@" ;;
*) set -- "$sample" "$@" ;;
esac
rc=0
out=$("$TARNWICK_WINE_LOADER" "$@" 2>&1 | tr -d '\r') || rc=$?
printf '%s\n' "$out"
passed=0
failed=0
if [ "$rc" -eq 0 ]; then passed=$((passed + 1)); else
    echo "FAILED: exit code $rc"; failed=$((failed + 1)); fi
while IFS= read -r pattern || [ -n "$pattern" ]; do
    case "$pattern" in ''|'#'*) continue ;; esac
    if printf '%s\n' "$out" | grep -qxE -- "$pattern"; then
        passed=$((passed + 1))
    else
        echo "FAILED: no line matches: $pattern"
        failed=$((failed + 1))
    fi
done < "$expect"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
