#!/bin/sh
# Builds the library once more in a fresh folder and compares the bytes with
# the library of this build: the same sources must give the same file.
#   reproducible.sh SOURCE_DIR TOOLCHAIN_FILE BUILD_TYPE BUILT_DLL
set -eu
src=$1 toolchain=$2 type=$3 built=$4
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-again.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="$type" \
    -DBUILD_TESTING=OFF >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; exit 1; }
cmake --build "$dir" --target Tarnwick -j2 >"$dir/build.log" 2>&1 || { cat "$dir/build.log"; exit 1; }
if cmp "$dir/library/Tarnwick.dll" "$built"; then
    echo "identical: $(wc -c <"$built") bytes"
else
    echo "the second build differs (or the sources changed since this build)" >&2
    exit 1
fi
