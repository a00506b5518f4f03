#!/bin/sh
# Builds the last release before this one from its commit, in a folder of
# the test's own: its MSI, its early-bound sample and its script samples,
# for the upgrade test. It is built with this build's toolchain file, so
# with the compilers that this release's set-up installs, which need not be
# the ones that release was made with.
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
cmake -S "$work/src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE="$build_type" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$work/build" --target msi early_bound >/dev/null
ls "$work/build/packages/"*.msi
