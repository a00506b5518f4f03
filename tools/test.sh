#!/bin/sh
# Builds both targets and runs every test under Wine.
#   tools/test.sh            both targets
#   tools/test.sh i686       one target
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
. "$root/tools/wine-env.sh"
targets=${*:-"i686 x86_64"}
status=0
for t in $targets; do
    build="$root/build-$t"
    echo "== $t: build"
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$t.cmake" >/dev/null
    cmake --build "$build" -j "$(nproc)"
    if [ "$t" = i686 ] && ! can_run_32_bit; then
        # Without the kernel's 32-bit emulation no 32-bit program starts,
        # and so no 32-bit Wine: the target is built but cannot be run here.
        echo "== $t: tests SKIPPED: this machine cannot start 32-bit programs (32-bit Wine fails to run)"
        continue
    fi
    echo "== $t: test"
    (cd "$build" && ctest --output-on-failure -j 2 --timeout 300) || status=1
done
exit $status
