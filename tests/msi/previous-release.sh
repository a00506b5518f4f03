#!/bin/sh
# Builds the last release before this one from its commit, in a folder of
# the test's own: its MSI, its early-bound sample and its script samples,
# for the upgrade test. It is built with the compilers that this release's
# set-up installs (this build's toolchain file, and this release's shared
# toolchain part in place of its own), which need not be the ones that
# release was made with.
#   previous-release.sh SOURCE COMMIT WORK TOOLCHAIN-FILE BUILD-TYPE
set -eu
src=$1 commit=$2 work=$(realpath -m "$3") toolchain=$4 build_type=$5
. "$(dirname "$0")/../../tools/lib.sh"
if ! git -C "$src" cat-file -e "$commit^{commit}" 2>/dev/null; then
    echo "previous-release.sh: commit $commit is not in $src (a shallow clone?)" >&2
    exit 1
fi
fresh_folder "$work" .tarnwick-previous
mkdir -p "$work/src"
git -C "$src" archive "$commit" | tar -x -C "$work/src"
# Its own toolchain files, the 32-bit one of the 64-bit package's inner
# build too, take their compilers from here.
cp "$src/cmake/mingw-toolchain.cmake" "$work/src/cmake/mingw-toolchain.cmake"
cmake -S "$work/src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE="$build_type" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$work/build" --target msi early_bound >/dev/null
ls "$work/build/packages/"*.msi
