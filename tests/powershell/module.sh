#!/bin/sh
# The Tarnwick module's Pester tests under the tests' PowerShell, against
# BUILD's module folder (BUILD/powershell/Tarnwick) and library:
#   module.sh BUILD VERSION             all but the restart tests, in a
#                                       prefix of their own (they write the
#                                       signs of a pending restart, which
#                                       other scripts read)
#   module.sh BUILD VERSION --stand-in  the restart tests, with the test
#                                       build of the library registered in
#                                       a prefix of its own, its two
#                                       shutdown functions bound to
#                                       tests/examples' stand-in, whose
#                                       lines must be exactly the restarts
#                                       and the call-off the tests ask for
#   module.sh BUILD VERSION --bench     module-bench.ps1 in the first one's
#                                       prefix: the benchmarks of
#                                       docs/benchmarks.md, measured only
# VERSION is the library's: the module must carry it. Pester comes from
# tools/pester.sh, copied into the build folder, which the root mounts.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
[ $# -ge 2 ] || { echo "usage: $0 BUILD VERSION [--stand-in | --bench]" >&2; exit 2; }
build=$(realpath "$1")
version=$2
. "$project/tools/lib.sh"
pester=$("$project/tools/pester.sh")
copy=$build/powershell-tests/Pester
if ! diff -rq "$pester" "$copy" >/dev/null 2>&1; then
    rm -rf --one-file-system "$copy"
    mkdir -p "$(dirname "$copy")"
    cp -R "$pester" "$copy"
fi
module=$(windows_path "$build/powershell/Tarnwick")
run() { "$here/run-pwsh.sh" "$build" --last-line done "$here/module.ps1" "$(windows_path "$copy")" "$module" "$version" "$@"; }

case "${3:-}" in
--stand-in) ;;
--bench)
    TARNWICK_PWSH_PREFIX=powershell-module exec "$here/run-pwsh.sh" "$build" --last-line done \
        "$here/module-bench.ps1" "$module"
    ;;
*)
    TARNWICK_PWSH_PREFIX=powershell-module run
    exit
    ;;
esac
stand_in=$build/tests/examples/shutdown_stand_in.dll
seam=$build/library/TarnwickSeam.dll
for f in "$stand_in" "$seam"; do
    [ -f "$f" ] || { echo "module.sh: no $f (build the tests)" >&2; exit 2; }
done
rc=0
out=$(TARNWICK_PWSH_PREFIX=powershell-module-seam TARNWICK_DLL=$seam \
    TARNWICK_SEAM_LIBRARY=$(windows_path "$stand_in") \
    TARNWICK_SEAM_FUNCTIONS=InitiateSystemShutdownExW=StandInInitiateShutdown,AbortSystemShutdownW=StandInAbortShutdown \
    run StandIn) || rc=$?
printf '%s\n' "$out"
[ "$rc" -eq 0 ] || exit "$rc"
asked=$(printf '%s\n' "$out" | grep '^stand-in: ' || true)
expected='stand-in: InitiateSystemShutdownExW(this machine, "Tarnwick module test", 600 s, force 0, restart 1, reason 0x80000000)
stand-in: AbortSystemShutdownW(this machine)
stand-in: InitiateSystemShutdownExW(this machine, "", 0 s, force 1, restart 1, reason 0x80000000)'
if [ "$asked" != "$expected" ]; then
    printf 'module.sh: the stand-in was asked\n%s\nnot\n%s\n' "$asked" "$expected" >&2
    exit 1
fi
echo "module.sh: the stand-in was asked for exactly the two restarts and the call-off"
