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
#   .stamp                        hash of this script and the two source
#                                 versions; when it matches, nothing is built
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
# Usage: tools/toolchain-arm64.sh [--force] [--check]
#   --force   rebuild even when the stamp matches
#   --check   only run the smoke test against the installed toolchain
# Environment: TARNWICK_ARM64_PREFIX, TARNWICK_ARM64_WORK, MINGW_W64_VERSION,
#   KEEP_WORK=1 (keep source trees and build folders after a good build).
# Runs as root (apt-get, and the prefix in /var/cache). Builds niced, -j2.
set -eu

PREFIX=${TARNWICK_ARM64_PREFIX:-/var/cache/tarnwick-arm64}
WORK=${TARNWICK_ARM64_WORK:-/var/tmp/tarnwick-arm64-build}
TARGET=aarch64-w64-mingw32
CLANG_TARGET=aarch64-w64-windows-gnu    # clang's normalised spelling
LLVM_MAJOR=19
LLVM_SOURCE=llvm-toolchain-$LLVM_MAJOR  # its version: that of clang-19
MINGW_W64_VERSION=${MINGW_W64_VERSION:-10.0.0-3}   # bookworm's mingw-w64
JOBS=2
SYSROOT=$PREFIX/$TARGET
RESOURCE_DIR=$PREFIX/lib/clang/$LLVM_MAJOR

force=no check_only=no
for arg in "$@"; do
    case "$arg" in
    --force) force=yes ;;
    --check) check_only=yes ;;
    *) echo "usage: $0 [--force] [--check]" >&2; exit 2 ;;
    esac
done

script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

# ---------------------------------------------------------------- timing
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
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
    t=$(elapsed "$phase_started" "$(now)")
    echo "toolchain-arm64: $phase_name took $t s"
    timings="$timings$(printf '  %-10s %8s s' "$phase_name" "$t")
"
    phase_name=""
}
summary() {
    phase_done
    printf 'toolchain-arm64: phase times\n%s' "$timings"
    echo "toolchain-arm64: total $(elapsed "$all_started" "$(now)") s"
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
    echo "deb-src ${signed}http://deb.debian.org/debian bookworm main" >"$src_list"
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

# ---------------------------------------------------------------- smoke test
# Compiles and links, with the project's link options, a C++20 DLL (with a
# .def file and a version resource) and an EXE that uses it, then checks the
# machine, the imports, the exports, the resources and that two links give
# the same bytes. The programs cannot run on this x86_64 host.
smoke_test() {
    t=$WORK/check
    rm -rf "$t"
    mkdir -p "$t"
    cat >"$t/core.cpp" <<'EOF'
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

namespace {
std::atomic<int> destroyed{0};
struct Counter {                       // a static object with a destructor
    std::atomic<int> value{0};
    ~Counter() { destroyed.fetch_add(1); }
} counter;

[[noreturn]] void fail(int v) { throw std::runtime_error("bad value " + std::to_string(v)); }
int doubled(int v) {
    if (v < 0)
        fail(v);
    return 2 * v;
}
}  // namespace

extern "C" int check_sum(int n) {
    std::vector<std::thread> pool;
    for (int t = 1; t <= 4; ++t)
        pool.emplace_back([n, t] {
            for (int i = 0; i < n; ++i)
                counter.value.fetch_add(t, std::memory_order_relaxed);
        });
    for (auto &th : pool)
        th.join();
    auto owned = std::make_unique<int>(7);
    int *raw = new int[4]{1, 2, 3, 4};
    int caught = 0;
    try {
        doubled(-n);
    } catch (const std::runtime_error &e) {
        caught = std::string(e.what()).find("bad value") == 0;
    }
    delete[] raw;
    BSTR text = SysAllocString(L"x");          // OLEAUT32
    SysFreeString(text);
    void *block = CoTaskMemAlloc(16);          // ole32
    CoTaskMemFree(block);
    HKEY key;                                   // ADVAPI32
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    return caught && *owned == 7 ? counter.value.load() + destroyed.load() : -1;
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return S_FALSE; }
extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID, REFIID riid, void **out) {
    *out = nullptr;
    return IsEqualIID(riid, IID_IUnknown) ? CLASS_E_CLASSNOTAVAILABLE : E_NOINTERFACE;  // uuid
}
EOF
    cat >"$t/limits.c" <<'EOF'
#include <limits.h>
int check_limit(void) { return INT_MAX / 2; }
EOF
    cat >"$t/check.def" <<'EOF'
LIBRARY check.dll
EXPORTS
    DllCanUnloadNow     @1 PRIVATE
    DllGetClassObject   @2 PRIVATE
    check_sum           @3
    check_limit         @4
EOF
    cat >"$t/check.rc" <<'EOF'
#include <winver.h>
LANGUAGE 0, 0
1 CHECKDATA { 0x0010, 0x0000, 0xAA64 }
VS_VERSION_INFO VERSIONINFO
 FILEVERSION 1,10,1405,0
 PRODUCTVERSION 1,10,1405,0
 FILEFLAGSMASK VS_FFI_FILEFLAGSMASK
 FILEOS VOS_NT_WINDOWS32
 FILETYPE VFT_DLL
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "FileDescription", "arm64 toolchain smoke test"
      VALUE "FileVersion", "1.10.1405.0"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
EOF
    cat >"$t/main.cpp" <<'EOF'
#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <thread>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
extern "C" __declspec(dllimport) int check_sum(int n);
extern "C" __declspec(dllimport) int check_limit(void);
struct Goodbye { ~Goodbye() { std::puts("goodbye"); } } goodbye;
static int parse(int v) {
    if (v > 3)
        throw std::out_of_range("too big");
    return v;
}
int main() {
    std::atomic<int> seen{0};
    std::thread worker([&seen] { seen.store(GetCurrentThreadId() != 0); });
    worker.join();
    int *p = new int(5);
    int caught = 0;
    try {
        parse(*p);
    } catch (const std::exception &e) {
        caught = e.what()[0] == 't';
    }
    delete p;
    int r = check_sum(10);
    std::printf("%d %d %d %d\n", r, check_limit(), seen.load(), caught);
    if (r != 100 || !caught || !seen)
        MessageBoxW(nullptr, L"failed", L"check", MB_OK);   // USER32
    return r == 100 && caught && seen ? 0 : 1;
}
EOF
    cc=$PREFIX/bin/$TARGET-clang cxx=$PREFIX/bin/$TARGET-clang++
    rc=$PREFIX/bin/$TARGET-windres
    # The project's compile and link options (CMakeLists.txt).
    cflags="-Wall -Wextra -Werror -ffunction-sections -fdata-sections -Os -DNDEBUG -ffile-prefix-map=$t=."
    lflags="-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp -Wl,--gc-sections -Wl,--build-id=none -s"
    # Not under || : set -e must stop the subshell at the first failure.
    set +e
    (
        set -ex
        cd "$t"
        "$cxx" -std=c++20 $cflags -c core.cpp -o core.o
        "$cc" $cflags -c limits.c -o limits.o
        PATH=/usr/bin:/bin "$rc" -O coff -I. check.rc check-rc.o   # PATH: not found through it
        "$cxx" -std=c++20 $cflags -c main.cpp -o main.o
        for n in 1 2; do   # lld names the export table after the output
            mkdir -p link$n
            "$cxx" -shared -o link$n/check.dll core.o limits.o check-rc.o check.def \
                -Wl,--out-implib,link$n/libcheck.dll.a $lflags -loleaut32 -lole32 -luuid -ladvapi32
        done
        cp link1/check.dll check.dll
        "$cxx" -o check.exe main.o link1/libcheck.dll.a $lflags -luser32
    ) >"$t/build.log" 2>&1
    status=$?
    set -e
    if [ "$status" != 0 ]; then
        tail -n 40 "$t/build.log" >&2
        echo "smoke test: build failed" >&2
        return 1
    fi
    if grep -i 'warning' "$t/build.log" >&2; then
        echo "smoke test: the build gave warnings" >&2; return 1
    fi
    ro=llvm-readobj-$LLVM_MAJOR
    ok=yes
    allowed='^(kernel32|msvcrt|api-ms-win-crt-[a-z0-9-]+|advapi32|oleaut32|ole32|user32|shell32|check)\.dll$'
    for f in check.dll check.exe; do
        machine=$($ro --file-headers "$t/$f" | awk '/Machine:/ { print $2, $3 }')
        echo "smoke test: $f machine $machine"
        [ "$machine" = "IMAGE_FILE_MACHINE_ARM64 (0xAA64)" ] || { echo "smoke test: $f is not ARM64" >&2; ok=no; }
        imports=$($ro --coff-imports "$t/$f" | awk '$1 == "Name:" { print $2 }' | sort -u)
        echo "smoke test: $f imports" $imports
        [ -n "$imports" ] || { echo "smoke test: $f has no imports" >&2; ok=no; }
        for dll in $imports; do
            printf '%s\n' "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed" ||
                { echo "smoke test: $f imports $dll, not a Windows system DLL" >&2; ok=no; }
        done
        stamp=$($ro --file-headers "$t/$f" | awk '/TimeDateStamp:/ { print $2 }')
        [ "$stamp" = "1970-01-01" ] || { echo "smoke test: $f has a time stamp: $stamp" >&2; ok=no; }
        symbols=$($ro --file-headers "$t/$f" | awk '/SymbolCount:/ { print $2 }')
        [ "$symbols" = 0 ] || { echo "smoke test: $f is not stripped ($symbols symbols)" >&2; ok=no; }
        if grep -aq "$WORK" "$t/$f"; then echo "smoke test: $f contains the build path $WORK" >&2; ok=no; fi
    done
    for dll in oleaut32 ole32 advapi32 kernel32; do
        $ro --coff-imports "$t/check.dll" | grep -iq "Name: $dll.dll" ||
            { echo "smoke test: check.dll does not import $dll.dll" >&2; ok=no; }
    done
    $ro --coff-imports "$t/check.exe" | grep -q 'Name: check.dll' ||
        { echo "smoke test: check.exe does not import check.dll" >&2; ok=no; }
    exports=$($ro --coff-exports "$t/check.dll" | awk '$1 == "Name:" { print $2 }' | LC_ALL=C sort | tr '\n' ' ')
    echo "smoke test: check.dll exports $exports"
    [ "$exports" = "DllCanUnloadNow DllGetClassObject check_limit check_sum " ] ||
        { echo "smoke test: unexpected exports" >&2; ok=no; }
    $ro --coff-resources "$t/check.dll" >"$t/resources.txt"
    grep -q 'Type: VERSIONINFO (ID 16)' "$t/resources.txt" || { echo "smoke test: no version resource" >&2; ok=no; }
    grep -q 'Type: CHECKDATA' "$t/resources.txt" || { echo "smoke test: no CHECKDATA resource" >&2; ok=no; }
    # The version block's fixed part: FILEVERSION 1,10,1405,0.
    version=$(python3 - "$t/check.dll" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    print("none")
else:
    ms, ls = struct.unpack_from("<II", data, at + 8)
    print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
PY
)
    echo "smoke test: check.dll file version $version"
    [ "$version" = 1.10.1405.0 ] || { echo "smoke test: wrong file version" >&2; ok=no; }
    python3 -c 'import sys; sys.exit("arm64 toolchain smoke test".encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$t/check.dll" ||
        { echo "smoke test: version strings missing" >&2; ok=no; }
    cmp -s "$t/link1/check.dll" "$t/link2/check.dll" || { echo "smoke test: two links of check.dll differ" >&2; ok=no; }
    # libc++ with Win32 threads, not winpthreads.
    [ -z "$(find "$SYSROOT" -name 'libwinpthread*' -print)" ] || { echo "smoke test: winpthreads in the sysroot" >&2; ok=no; }
    [ "$ok" = yes ] || { echo "smoke test: FAILED (files in $t)" >&2; return 1; }
    echo "smoke test: passed"
}

if [ "$check_only" = yes ]; then
    phase check
    smoke_test
    summary
    exit 0
fi

# ---------------------------------------------------------------- cache
want_stamp="script $(sha256sum "$script" | cut -d' ' -f1)
$LLVM_SOURCE $LLVM_VERSION
mingw-w64 $MINGW_W64_VERSION
target $TARGET"
if [ "$force" = no ] && [ -f "$PREFIX/.stamp" ] && [ "$(cat "$PREFIX/.stamp")" = "$want_stamp" ]; then
    echo "toolchain-arm64: $PREFIX is up to date ($LLVM_SOURCE $LLVM_VERSION, mingw-w64 $MINGW_W64_VERSION); nothing to build"
    exit 0
fi
echo "toolchain-arm64: building with clang-$LLVM_MAJOR $LLVM_VERSION (resource dir $CLANG_RESOURCE)"

renice -n 19 -p $$ >/dev/null   # everything below, children too

# ---------------------------------------------------------------- sources
phase sources
SRC=$WORK/src
mkdir -p "$SRC"
rm -rf "$WORK/logs"
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
fetch_source mingw-w64 "$MINGW_W64_VERSION"
mingw_dsc=$dsc
fetch_source "$LLVM_SOURCE" "$LLVM_VERSION"
llvm_dsc=$dsc
orig() { awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 ~ /\.orig\.tar\.[a-z0-9]+$/ { print $3 }' "$1"; }
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
map="-ffile-prefix-map=$WORK=."   # no build paths in the libraries

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

# ---------------------------------------------------------------- check
phase check
smoke_test

phase finish   # the stamp, then the source trees and build folders go
printf '%s\n' "$want_stamp" >"$PREFIX/.stamp"
if [ "${KEEP_WORK:-}" != 1 ]; then
    rm -rf "$BUILD" "$MINGW_SRC" "$LLVM_SRC"
fi
echo "toolchain-arm64: $TARGET toolchain ready in $PREFIX/bin"
summary
