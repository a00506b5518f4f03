#!/bin/sh
# Builds the third target's toolchain, aarch64-w64-mingw32 (Windows on
# ARM64), on Debian 12, which has no aarch64 mingw-w64 cross compiler.
#
# The compiler, linker and binary tools are Debian's own clang-19, lld-19 and
# llvm-19 (bookworm main). What Debian does not ship for this target, the
# target's runtime, is built here from Debian's source packages:
#   mingw-w64 (10.0.0)       headers and CRT (msvcrt by default, like the
#                            i686 and x86_64 targets' Debian packages)
#   llvm-toolchain-19        compiler-rt builtins, libunwind, libc++abi and
#                            libc++, static only, Win32 threads (no
#                            winpthreads: nothing here needs it)
# The sources are the upstream tarballs of those source packages, checked
# against the .dsc files apt fetches from the signed archive. Debian's own
# patches are not applied: mingw-w64's touch widl/gendef and Makefile.am
# (which would need autoreconf), llvm's touching these runtimes are
# Linux/ELF and test changes.
#
# Result, under $PREFIX (default /var/cache/tarnwick-arm64):
#   aarch64-w64-mingw32/          sysroot: include/, lib/, include/c++/v1/
#   lib/clang/19/                 resource dir: clang-19's include/ (a link)
#                                 and lib/aarch64-w64-windows-gnu/
#                                 libclang_rt.builtins.a
#   bin/aarch64-w64-mingw32-clang, -clang++, -windres (wrappers), -ar,
#       -ranlib, -dlltool, -nm, -objdump, -objcopy, -strip, -readobj, -ld
#   .stamp                        what the toolchain was built from: a hash
#                                 of this script's recipe sections (without
#                                 their comments), the two source versions,
#                                 and a hash of the smoke test; when it
#                                 matches, nothing is built, and when only
#                                 the smoke test changed, only that runs
#
# From CMake, either the wrappers:
#   CMAKE_C_COMPILER   $PREFIX/bin/aarch64-w64-mingw32-clang
#   CMAKE_CXX_COMPILER $PREFIX/bin/aarch64-w64-mingw32-clang++
#   CMAKE_RC_COMPILER  $PREFIX/bin/aarch64-w64-mingw32-windres
# or clang-19/clang++-19 with CMAKE_<LANG>_COMPILER_TARGET aarch64-w64-mingw32,
# CMAKE_SYSROOT $PREFIX, -resource-dir=$PREFIX/lib/clang/19 in the C and C++
# flags, -stdlib=libc++ in the C++ flags only, and -fuse-ld=lld
# -rtlib=compiler-rt -unwindlib=libunwind in the linker flags only (with
# -Werror, clang rejects link-only options on compile lines; the wrappers
# wrap them in --start-no-unused-arguments). Either way
# CMAKE_FIND_ROOT_PATH $PREFIX/aarch64-w64-mingw32.
#
# The smoke test is tools/arm64/smoke-test.sh, its sources are in
# tools/arm64/smoke/; it compiles them with the project's options
# (cmake/build-options.cmake).
#
# Usage: tools/toolchain-arm64.sh [--force] [--check]
#   --force   rebuild even when the stamp matches
#   --check   only run the smoke test against the installed toolchain
# Environment: TARNWICK_ARM64_PREFIX, TARNWICK_ARM64_WORK, MINGW_W64_VERSION,
#   KEEP_WORK=1 (keep source trees and build folders after a good build).
# Runs as root (apt-get, and the prefix in /var/cache). Builds niced, -j2.
set -eu
tools=$(cd "$(dirname "$0")" && pwd)
script=$tools/$(basename "$0")
. "$tools/lib.sh"

PREFIX=${TARNWICK_ARM64_PREFIX:-/var/cache/tarnwick-arm64}
WORK=${TARNWICK_ARM64_WORK:-/var/tmp/tarnwick-arm64-build}
JOBS=2
# The stamp hashes the lines between each "recipe" marker and the next "end
# of recipe" marker, without comments, blank lines and indentation: what
# decides the toolchain's bytes belongs there, and nothing else.
# ================================================================ recipe
TARGET=aarch64-w64-mingw32
# clang's normalised spelling
CLANG_TARGET=aarch64-w64-windows-gnu
LLVM_MAJOR=19
# Its version is that of clang-19.
LLVM_SOURCE=llvm-toolchain-$LLVM_MAJOR
# bookworm's mingw-w64
MINGW_W64_VERSION=${MINGW_W64_VERSION:-10.0.0-3}
SYSROOT=$PREFIX/$TARGET
RESOURCE_DIR=$PREFIX/lib/clang/$LLVM_MAJOR
# ================================================================ end of recipe

force=no check_only=no
for arg in "$@"; do
    case "$arg" in
    --force) force=yes ;;
    --check) check_only=yes ;;
    *) echo "usage: $0 [--force] [--check]" >&2; exit 2 ;;
    esac
done

# ---------------------------------------------------------------- timing
all_started=$(now)
timings=""
phase_name="" phase_started=""
phase() {
    phase_done
    phase_name=$1 phase_started=$(now)
    echo "toolchain-arm64: == $phase_name"
}
phase_done() {
    [ -n "$phase_name" ] || return 0
    t=$(elapsed "$phase_started")
    echo "toolchain-arm64: $phase_name took $t s"
    timings="$timings$(printf '  %-10s %8s s' "$phase_name" "$t")
"
    phase_name=""
}
summary() {
    phase_done
    printf 'toolchain-arm64: phase times\n%s' "$timings"
    echo "toolchain-arm64: total $(elapsed "$all_started") s"
}

# Runs a command with its output in the phase's log; shows the log's end when
# it fails.
logged() {
    log=$WORK/logs/$phase_name.log
    mkdir -p "$WORK/logs"
    echo "+ $*" >>"$log"
    "$@" >>"$log" 2>&1 || {
        status=$?
        echo "toolchain-arm64: failed ($status) in phase $phase_name: $*" >&2
        echo "toolchain-arm64: last lines of $log:" >&2
        tail -n 40 "$log" >&2
        exit "$status"
    }
}

# ---------------------------------------------------------------- packages
# The compiler, linker, binary tools and build programs are Debian packages
# that tools/setup.sh aarch64 installs (it names each one).
apt_updated=no
apt_update() {
    [ "$apt_updated" = yes ] && return 0
    echo "toolchain-arm64: apt-get update"
    apt-get update -qq
    apt_updated=yes
}

# apt-get source needs a deb-src line for bookworm main: added in its own
# file when apt has none, before the one apt-get update of a run.
src_list=/etc/apt/sources.list.d/tarnwick-src.list
add_src_list() {
    apt-cache showsrc mingw-w64 2>/dev/null | grep -q '^Version: ' && return 0
    [ -f "$src_list" ] && return 0
    signed=""
    if grep -qs 'Signed-By: */usr/share/keyrings/debian-archive-keyring.gpg' /etc/apt/sources.list.d/*.sources; then
        signed="[signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
    fi
    echo "toolchain-arm64: adding $src_list"
    echo "deb-src ${signed}$(debian_mirror) bookworm main" >"$src_list"
    apt_updated=no
}
ensure_deb_src() {  # package version
    apt-cache showsrc "$1" 2>/dev/null | grep -qx "Version: $2" && return 0
    add_src_list
    apt_update
    apt-cache showsrc "$1" 2>/dev/null | grep -qx "Version: $2" || {
        echo "toolchain-arm64: source package $1 $2 is not in apt's lists" >&2; exit 1; }
}

for tool in clang-$LLVM_MAJOR clang++-$LLVM_MAJOR ld.lld-$LLVM_MAJOR \
    llvm-ar-$LLVM_MAJOR llvm-ranlib-$LLVM_MAJOR llvm-dlltool-$LLVM_MAJOR \
    llvm-windres-$LLVM_MAJOR llvm-readobj-$LLVM_MAJOR cmake ninja make python3 xz bzip2; do
    command -v "$tool" >/dev/null || { echo "toolchain-arm64: $tool is missing: run tools/setup.sh aarch64" >&2; exit 1; }
done
LLVM_VERSION=$(dpkg-query -W -f='${source:Version}' clang-$LLVM_MAJOR)
CLANG_RESOURCE=$(clang-$LLVM_MAJOR -print-resource-dir)

# The smoke test (tools/arm64/smoke-test.sh).
. "$tools/arm64/smoke-test.sh"

if [ "$check_only" = yes ]; then
    phase check
    smoke_test
    summary
    exit 0
fi

# ---------------------------------------------------------------- cache
# section NAME: the lines between the markers NAME and "end of NAME" of this
# script, without comments, blank lines and indentation.
section() {
    awk -v begin="$1" -v end="end of $1" '
        /^# =+ / { name = $0; sub(/^# =+ /, "", name)
                   if (name == begin) { on = 1; next }
                   if (name == end) { on = 0; next } }
        on && !/^[[:space:]]*(#([^!]|$)|$)/ { sub(/^[[:space:]]+/, ""); print }' "$script"
}
sha256_of() { sha256sum | cut -d' ' -f1; }
want_stamp="recipe $(section recipe | sha256_of)
$LLVM_SOURCE $LLVM_VERSION
mingw-w64 $MINGW_W64_VERSION
target $TARGET
prefix $PREFIX"
want_smoke="smoke $({ cat "$tools/arm64/smoke-test.sh" "$smoke"/*; echo "$project_cflags" "$project_lflags"; } | sha256_of)"
have_stamp=$(cat "$PREFIX/.stamp" 2>/dev/null || true)
up_to_date="toolchain-arm64: $PREFIX is up to date ($LLVM_SOURCE $LLVM_VERSION, mingw-w64 $MINGW_W64_VERSION); nothing to build"
if [ "$force" = no ] && [ "$have_stamp" = "$want_stamp
$want_smoke" ]; then
    echo "$up_to_date"
    exit 0
fi
if [ "$force" = no ] && [ "$(printf '%s\n' "$have_stamp" | sed '$d')" = "$want_stamp" ]; then
    echo "toolchain-arm64: the smoke test changed: checking $PREFIX again"
    phase check
    smoke_test
    printf '%s\n%s\n' "$want_stamp" "$want_smoke" >"$PREFIX/.stamp"
    summary
    echo "$up_to_date"
    exit 0
fi
echo "toolchain-arm64: building with clang-$LLVM_MAJOR $LLVM_VERSION (resource dir $CLANG_RESOURCE)"

# Everything below, children too.
renice -n 19 -p $$ >/dev/null

# ---------------------------------------------------------------- sources
# Checks each file that a .dsc lists against its SHA-256 there.
dsc_verified() {
    [ -f "$1" ] || return 1
    awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF == 3 { print $1 "  " $3 }' "$1" >"$1.sha256"
    [ -s "$1.sha256" ] && (cd "$(dirname "$1")" && sha256sum --quiet -c "$(basename "$1").sha256") >/dev/null 2>&1
}
fetch_source() {  # package version -> sets dsc
    upstream=${2#*:}
    dsc=$SRC/${1}_$upstream.dsc
    if ! dsc_verified "$dsc"; then
        ensure_deb_src "$1" "$2"
        (cd "$SRC" && logged apt-get source --download-only -qq "$1=$2")
        dsc_verified "$dsc" || { echo "toolchain-arm64: $dsc: checksums do not match" >&2; exit 1; }
    fi
}
orig() { awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 ~ /\.orig\.tar\.[a-z0-9]+$/ { print $3 }' "$1"; }

# ================================================================ recipe
phase sources
SRC=$WORK/src
mkdir -p "$SRC"
rm -rf "$WORK/logs"
fetch_source mingw-w64 "$MINGW_W64_VERSION"
mingw_dsc=$dsc
fetch_source "$LLVM_SOURCE" "$LLVM_VERSION"
llvm_dsc=$dsc
MINGW_SRC=$SRC/mingw-w64
LLVM_SRC=$SRC/llvm
rm -rf "$MINGW_SRC" "$LLVM_SRC"
mkdir -p "$MINGW_SRC" "$LLVM_SRC"
logged tar -xf "$SRC/$(orig "$mingw_dsc")" -C "$MINGW_SRC" --strip-components=1
# Only the parts the runtimes build reads (the whole tree is ~1.5 GB).
llvm_tar=$SRC/$(orig "$llvm_dsc")
top=$(tar -tf "$llvm_tar" | head -n 1 | cut -d/ -f1)
logged tar -xf "$llvm_tar" -C "$LLVM_SRC" --strip-components=1 \
    "$top/cmake" "$top/compiler-rt" "$top/libunwind" "$top/libcxxabi" "$top/libcxx" \
    "$top/runtimes" "$top/llvm/cmake" "$top/llvm/utils" "$top/LICENSE.TXT"
echo "toolchain-arm64: mingw-w64 $MINGW_W64_VERSION and $LLVM_SOURCE $LLVM_VERSION unpacked in $SRC"

# A fresh prefix: a partial build never carries over.
rm -rf "$PREFIX"
mkdir -p "$PREFIX/bin" "$SYSROOT" "$RESOURCE_DIR/lib"
BUILD=$WORK/build
rm -rf "$BUILD"
mkdir -p "$BUILD"
export PATH="$PREFIX/bin:$PATH"
# No build paths in the libraries.
map="-ffile-prefix-map=$WORK=."

# ---------------------------------------------------------------- wrappers
phase wrappers
# clang's resource dir, in the prefix: Debian's headers, our builtins.
ln -sfn "$CLANG_RESOURCE/include" "$RESOURCE_DIR/include"
for pair in clang:clang-$LLVM_MAJOR clang++:clang++-$LLVM_MAJOR; do
    name=${pair%%:*} driver=/usr/bin/${pair#*:}
    cat >"$PREFIX/bin/$TARGET-$name" <<EOF
#!/bin/sh
# $TARGET $name: Debian's $driver with this prefix's sysroot and runtime.
exec $driver --start-no-unused-arguments --target=$TARGET --sysroot=$PREFIX \\
    -resource-dir=$RESOURCE_DIR -rtlib=compiler-rt -unwindlib=libunwind \\
    -stdlib=libc++ -fuse-ld=lld --end-no-unused-arguments "\$@"
EOF
    chmod 755 "$PREFIX/bin/$TARGET-$name"
done
# llvm-windres finds its preprocessor next to argv[0] only when it is
# called by path; the wrapper names it, so a call through PATH works too.
cat >"$PREFIX/bin/$TARGET-windres" <<EOF
#!/bin/sh
# $TARGET windres: llvm-windres-$LLVM_MAJOR, preprocessing with $TARGET-clang.
exec /usr/bin/llvm-windres-$LLVM_MAJOR --target=$TARGET \\
    --preprocessor=$PREFIX/bin/$TARGET-clang --preprocessor-arg=-E \\
    --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED "\$@"
EOF
chmod 755 "$PREFIX/bin/$TARGET-windres"
# The others pick their mode and target from the name they are called by.
for tool in ar ranlib dlltool nm objdump objcopy strip readobj strings size; do
    ln -sfn "/usr/bin/llvm-$tool-$LLVM_MAJOR" "$PREFIX/bin/$TARGET-$tool"
done
ln -sfn "/usr/bin/ld.lld-$LLVM_MAJOR" "$PREFIX/bin/$TARGET-ld"

# ---------------------------------------------------------------- headers
phase headers
mkdir -p "$BUILD/headers"
cd "$BUILD/headers"
logged "$MINGW_SRC/mingw-w64-headers/configure" --host=$TARGET --prefix="$SYSROOT" \
    --with-default-msvcrt=msvcrt
logged make install

# ---------------------------------------------------------------- crt
phase crt
# The C library's second names (`__ms_fwprintf == fwprintf`, `access ==
# _access`) are imports of the DLL's function to GNU dlltool, for which the
# .def files are written; llvm-dlltool makes them weak aliases of the plain
# name instead. A program that has a function of that name itself (the
# headers' inline fwprintf of C++, which prints a narrow string through
# __ms_fwprintf) then calls itself until its stack overflows. EXPORTAS
# names the DLL's function outright.
sed -i 's/\([ (]\)== /\1EXPORTAS /g' \
    "$MINGW_SRC/mingw-w64-crt/lib-common/msvcrt.def.in" "$MINGW_SRC"/mingw-w64-crt/def-include/*.def.in
mkdir -p "$BUILD/crt"
cd "$BUILD/crt"
logged "$MINGW_SRC/mingw-w64-crt/configure" --host=$TARGET --prefix="$SYSROOT" \
    --with-sysroot="$PREFIX" --disable-lib32 --disable-lib64 --enable-libarm64 \
    --with-default-msvcrt=msvcrt --enable-silent-rules \
    CC=$TARGET-clang AR=$TARGET-ar RANLIB=$TARGET-ranlib DLLTOOL=$TARGET-dlltool \
    CFLAGS="-O2 $map"
logged make -j$JOBS
logged make install

# ---------------------------------------------------------------- builtins
cmake_common="-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows
 -DCMAKE_SYSTEM_PROCESSOR=ARM64
 -DCMAKE_C_COMPILER=$TARGET-clang -DCMAKE_CXX_COMPILER=$TARGET-clang++
 -DCMAKE_C_COMPILER_TARGET=$CLANG_TARGET -DCMAKE_CXX_COMPILER_TARGET=$CLANG_TARGET
 -DCMAKE_ASM_COMPILER_TARGET=$CLANG_TARGET
 -DCMAKE_C_COMPILER_WORKS=ON -DCMAKE_CXX_COMPILER_WORKS=ON
 -DCMAKE_AR=/usr/bin/llvm-ar-$LLVM_MAJOR -DCMAKE_RANLIB=/usr/bin/llvm-ranlib-$LLVM_MAJOR
 -DCMAKE_FIND_ROOT_PATH=$SYSROOT -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER
 -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY
 -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY -DLLVM_CONFIG_PATH="
phase builtins
mkdir -p "$BUILD/builtins"
cd "$BUILD/builtins"
# shellcheck disable=SC2086
logged cmake $cmake_common "$LLVM_SRC/compiler-rt/lib/builtins" \
    -DCMAKE_C_FLAGS="$map" -DCMAKE_ASM_FLAGS="$map" \
    -DCMAKE_INSTALL_PREFIX="$RESOURCE_DIR" \
    -DLLVM_ENABLE_PER_TARGET_RUNTIME_DIR=ON \
    -DCOMPILER_RT_DEFAULT_TARGET_ONLY=ON \
    -DCOMPILER_RT_EXCLUDE_ATOMIC_BUILTIN=OFF
logged ninja -j$JOBS
logged ninja install
builtins=$RESOURCE_DIR/lib/$CLANG_TARGET/libclang_rt.builtins.a
[ -f "$builtins" ] || { echo "toolchain-arm64: $builtins not built" >&2; exit 1; }
[ "$($PREFIX/bin/$TARGET-clang -print-libgcc-file-name)" = "$builtins" ] ||
    { echo "toolchain-arm64: clang does not look for $builtins" >&2; exit 1; }

# ---------------------------------------------------------------- libc++
# libunwind, libc++abi and libc++ in one runtimes build; static only, with
# libc++abi merged into libc++.a (clang's MinGW driver links only -lc++).
# The default terminate handler is the silent one: the verbose one prints
# the demangled type of the exception, which links the whole demangler
# (some 117 KB) into every program that can throw.
phase libcxx
mkdir -p "$BUILD/runtimes"
cd "$BUILD/runtimes"
# shellcheck disable=SC2086
logged cmake $cmake_common "$LLVM_SRC/runtimes" \
    -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map" -DCMAKE_ASM_FLAGS="$map" \
    -DCMAKE_INSTALL_PREFIX="$SYSROOT" \
    -DLLVM_ENABLE_RUNTIMES="libunwind;libcxxabi;libcxx" -DLLVM_INCLUDE_TESTS=OFF \
    -DLIBUNWIND_ENABLE_SHARED=OFF -DLIBUNWIND_ENABLE_STATIC=ON \
    -DLIBUNWIND_USE_COMPILER_RT=ON -DLIBUNWIND_INCLUDE_TESTS=OFF \
    -DLIBCXXABI_ENABLE_SHARED=OFF -DLIBCXXABI_ENABLE_STATIC=ON \
    -DLIBCXXABI_USE_COMPILER_RT=ON -DLIBCXXABI_USE_LLVM_UNWINDER=ON \
    -DLIBCXXABI_LIBDIR_SUFFIX= -DLIBCXXABI_INCLUDE_TESTS=OFF -DLIBCXXABI_SILENT_TERMINATE=ON \
    -DLIBCXX_ENABLE_SHARED=OFF -DLIBCXX_ENABLE_STATIC=ON \
    -DLIBCXX_USE_COMPILER_RT=ON -DLIBCXX_CXX_ABI=libcxxabi \
    -DLIBCXX_ENABLE_STATIC_ABI_LIBRARY=ON -DLIBCXX_HAS_WIN32_THREAD_API=ON \
    -DLIBCXX_LIBDIR_SUFFIX= -DLIBCXX_INCLUDE_TESTS=OFF -DLIBCXX_INCLUDE_BENCHMARKS=OFF \
    -DLIBCXX_ENABLE_ABI_LINKER_SCRIPT=OFF -DLIBCXX_INSTALL_MODULES=OFF
logged ninja -j$JOBS
logged ninja install
grep -q '^#define _LIBCPP_HAS_THREAD_API_WIN32' "$SYSROOT/include/c++/v1/__config_site" ||
    { echo "toolchain-arm64: libc++ was not built with Win32 threads" >&2; exit 1; }
# ================================================================ end of recipe

# ---------------------------------------------------------------- check
phase check
smoke_test

# The stamp, then the source trees and build folders go.
phase finish
printf '%s\n%s\n' "$want_stamp" "$want_smoke" >"$PREFIX/.stamp"
if [ "${KEEP_WORK:-}" != 1 ]; then
    rm -rf "$BUILD" "$MINGW_SRC" "$LLVM_SRC"
fi
echo "toolchain-arm64: $TARGET toolchain ready in $PREFIX/bin"
summary
