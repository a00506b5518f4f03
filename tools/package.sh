#!/bin/sh
# Builds the targets and every package, in build-<target>/packages/: for
# i686 and x86_64 the ZIP (SDK) and the MSI (the win64 MSI carries the
# 32-bit library too, which the x86_64 build makes for it), for aarch64 the
# ZIP only (wixl makes no ARM64 package). The packages are reproducible: the
# same sources give the same bytes.
#   tools/package.sh            all three targets
#   tools/package.sh x86_64     one target
# Extra arguments for CMake go in TARNWICK_CMAKE_ARGS, for example
# TARNWICK_CMAKE_ARGS=-DTARNWICK_VERSION=1.10.1406.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
targets=${*:-"i686 x86_64 aarch64"}
# shellcheck disable=SC2086
"$root/tools/setup.sh" $targets
. "$root/tools/lib.sh"
for t in $targets; do
    build="$root/build-$t"
    echo "== $t: build"
    msi=msi
    [ "$t" = aarch64 ] && msi=
    # shellcheck disable=SC2086  # no MSI target for aarch64
    build_target "$t" "$build" "${TARNWICK_CMAKE_ARGS:-}" Tarnwick Pelmora $msi
    echo "== $t: packages"
    cpack --config "$build/CPackConfig.cmake" -B "$build/packages" >/dev/null
done
for t in $targets; do
    ls -l "$root/build-$t/packages/"*.zip
    [ "$t" = aarch64 ] || ls -l "$root/build-$t/packages/"*.msi
done
