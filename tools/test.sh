#!/bin/sh
# Builds the targets and runs every test under Wine.
#   tools/test.sh            i686 and x86_64
#   tools/test.sh aarch64    one target (or several, in the order given)
# The aarch64 tests run under the Wine of the arm64 root (tools/arm64-root.sh),
# which is mounted for them and unmounted afterwards.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
targets=${*:-"i686 x86_64"}
# shellcheck disable=SC2086
"$root/tools/setup.sh" $targets
. "$root/tools/lib.sh"
status=0
for t in $targets; do
    build="$root/build-$t"
    echo "== $t: build"
    build_target "$t" "$build" ""
    if [ "$t" = i686 ] && ! can_run_32_bit; then
        # Only where set-up was told not to emulate what the kernel cannot
        # start (TARNWICK_NO_EMULATION=1): the target is built, not run.
        echo "== $t: tests SKIPPED: this machine cannot start 32-bit programs and emulation was declined (TARNWICK_NO_EMULATION=1)"
        continue
    fi
    if [ "$t" = aarch64 ]; then
        trap '"$root/tools/arm64-root.sh" stop' EXIT
        "$root/tools/arm64-root.sh" start "$root"
    fi
    echo "== $t: test"
    repeat=
    if emulated "$t"; then
        # The emulator now and then faults inside Wine's own DLLs when many
        # guest threads run at once (an "illegal instruction" at a valid
        # one), so here a failing test runs once more; both runs show below.
        echo "== $t: under emulation a failing test gets a second run"
        repeat="--repeat until-pass:2"
    fi
    # shellcheck disable=SC2086
    (cd "$build" && ctest --output-on-failure -j 2 --timeout 300 $repeat) || status=1
done
exit $status
