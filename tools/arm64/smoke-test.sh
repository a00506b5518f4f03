# shellcheck shell=sh
# The aarch64 toolchain's smoke test, sourced by tools/toolchain-arm64.sh
# (which sets TARGET, PREFIX, SYSROOT, WORK, LLVM_MAJOR and tools).
#
# Compiles and links, with the project's compile and link options, a C++20
# DLL (with a .def file and a version resource) and an EXE that uses it,
# then checks the machine, the imports, the exports, the resources and that
# two links give the same bytes. The programs cannot run on this x86_64 host.
# The toolchain's stamp hashes this file, the smoke files and the options:
# when only they change, the toolchain is checked again, not rebuilt.
smoke=$tools/arm64/smoke
# build_options NAME: the list NAME of cmake/build-options.cmake.
build_options() {
    sed -n "s/^set($1 \(.*\))\$/\1/p" "$tools/../cmake/build-options.cmake"
}
# The project's options; -Os -DNDEBUG are CMake's own for MinSizeRel, the
# build's type unless told otherwise.
project_cflags="$(build_options TARNWICK_COMPILE_OPTIONS) -Os -DNDEBUG"
project_lflags="$(build_options TARNWICK_LINK_OPTIONS) $(build_options TARNWICK_RELEASE_LINK_OPTIONS)"
case " $project_cflags $project_lflags " in
*" -Werror "*" -static "*) ;;
*) echo "toolchain-arm64: cannot read the options of cmake/build-options.cmake" >&2; exit 1 ;;
esac
smoke_test() {
    t=$WORK/check
    rm -rf "$t"
    mkdir -p "$t"
    cp "$smoke"/* "$t/"
    cc=$PREFIX/bin/$TARGET-clang cxx=$PREFIX/bin/$TARGET-clang++
    rc=$PREFIX/bin/$TARGET-windres
    cflags="$project_cflags -ffile-prefix-map=$t=."
    lflags=$project_lflags
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
    # The C library's second names import the DLL's functions, never a weak
    # alias that a program's function of the plain name would take.
    aliases=$(llvm-nm-$LLVM_MAJOR "$SYSROOT/lib/libmsvcrt.a" 2>/dev/null | awk '$2 == "W" { print $3 }')
    [ -z "$aliases" ] || { echo "smoke test: weak aliases in libmsvcrt.a:" $aliases >&2; ok=no; }
    # libc++ with Win32 threads, not winpthreads.
    [ -z "$(find "$SYSROOT" -name 'libwinpthread*' -print)" ] || { echo "smoke test: winpthreads in the sysroot" >&2; ok=no; }
    [ "$ok" = yes ] || { echo "smoke test: FAILED (files in $t)" >&2; return 1; }
    echo "smoke test: passed"
}
