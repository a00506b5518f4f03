#!/bin/sh
# Installs what the build, the tests, the demo and the packages need on a
# Debian 12 machine, then checks every command and file the build uses.
# Runs as root; installs nothing when every package is there already.
#   tools/setup.sh            the i686 and x86_64 targets
#   tools/setup.sh aarch64    and the aarch64 target too (an argument naming
#                             other targets only is ignored)
#
# The type library is built by the unprefixed widl of wine64-tools (Wine IDL
# Compiler 8.0): its bytes depend on the compiler, and this one matches the
# Wine headers (libwine-dev) and the Wine the tests run under.
set -eu

# Debian packages, each with what it brings.
packages="
make                       build program for CMake
cmake                      configure, build, CTest, CPack
g++-mingw-w64-i686-win32   i686 compiler (Win32 thread model), windres, objdump
g++-mingw-w64-x86-64-win32 x86_64 compiler (Win32 thread model), windres, objdump
wine64-tools               widl (type library, header, identifiers)
libwine-dev                Wine's IDL files
wine                       wine, wineboot, wineserver
wine64                     the 64-bit loader and its DLLs
wine32:i386                the 32-bit loader and its DLLs
googletest                 googletest sources, built with each target
python3                    build-time generators and package checks
wixl                       the MSI packages
msitools                   reading the MSI packages back
osslsigncode               signing (tools/sign.sh)
openssl                    the signing test's throwaway certificate
git                        the previous release's sources, for the upgrade test
debootstrap                the Debian 13 roots: amd64 for the PowerShell tests, arm64 for aarch64
"
# For the aarch64 target only:
arm64_packages="
clang-19                   aarch64 compiler (tools/toolchain-arm64.sh builds its runtime)
lld-19                     aarch64 linker
llvm-19                    aarch64 binary tools, windres, objdump
ninja-build                building the runtime's LLVM parts
xz-utils                   unpacking the LLVM sources
bzip2                      unpacking the mingw-w64 sources
"
# Where this machine cannot start 32-bit programs, and for aarch64 where the
# machine is not itself aarch64 (see the end):
#   qemu-user (bookworm-backports)  runs those programs under emulation
want_arm64=no
case " $* " in *" aarch64 "*) want_arm64=yes ;; esac
names=$(printf '%s\n' "$packages" | awk 'NF { print $1 }')
if [ "$want_arm64" = yes ]; then
    names="$names $(printf '%s\n' "$arm64_packages" | awk 'NF { print $1 }')"
fi

installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

missing=""
for p in $names; do
    installed "$p" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    started=$(date +%s)
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
    echo "setup: installed in $(($(date +%s) - started)) s"
fi

# Every command and file the build, the tests and the demo use, with the
# package that brings it.
status=0
need() {
    kind=$1 what=$2 package=$3
    case "$kind" in
    command) command -v "$what" >/dev/null 2>&1 ;;
    file) [ -e "$what" ] ;;
    esac || {
        echo "setup: missing $kind $what: install the Debian package $package" >&2
        status=1
    }
}
need command make make
need command cmake cmake
need command ctest cmake
need command cpack cmake
# The compiler packages bring gcc and binutils through their dependencies.
for triple in i686-w64-mingw32 x86_64-w64-mingw32; do
    arch=$(echo "${triple%%-*}" | tr _ -)
    need command "$triple-gcc-win32" "gcc-mingw-w64-$arch-win32"
    need command "$triple-g++-win32" "g++-mingw-w64-$arch-win32"
    need command "$triple-windres" "binutils-mingw-w64-$arch"
    need command "$triple-objdump" "binutils-mingw-w64-$arch"
done
need command widl wine64-tools
need file /usr/include/wine/wine/windows/oaidl.idl libwine-dev
need command wine wine
need command wineboot wine
need command wineserver wine
. "$(dirname "$0")/lib.sh"
need file "$wine32" wine32:i386
need file "$wine64" wine64
need file /usr/lib/i386-linux-gnu/wine/i386-windows/stdole2.tlb wine32:i386
need file /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/stdole2.tlb wine64
need file /usr/src/googletest/CMakeLists.txt googletest
need command python3 python3
need command wixl wixl
need command git git
need command debootstrap debootstrap
need command msiinfo msitools
need command osslsigncode osslsigncode
need command openssl openssl
[ $status -eq 0 ] || exit $status
# The PowerShell tests build their shell with the .NET SDK, which Debian
# does not package: without it they are left out, and CMake says so too.
command -v dotnet >/dev/null 2>&1 ||
    echo "setup: dotnet not found: the PowerShell tests (x86_64) will not be registered; install the .NET 10 SDK for them"

# 32-bit programs: natively where the kernel starts them. Where it does not
# (its 32-bit emulation is switched off), qemu-i386 runs them through a
# binfmt_misc entry, which comes before the kernel's own loader and so is
# never made where 32-bit programs start natively. The F flag opens the
# interpreter now, so that it serves inside a chroot too.
# TARNWICK_NO_EMULATION=1 declines it: the i686 tests are then skipped.
binfmt=/proc/sys/fs/binfmt_misc

# emulate NAME MAGIC MASK: qemu-user and the binfmt_misc entry NAME that
# runs the ELF files MAGIC/MASK match with /usr/bin/NAME.
emulate() {
    # Bookworm's own qemu 7.2 takes most of a minute to start each Wine
    # process; backports has a current one. Only this package comes from there.
    if ! installed qemu-user || ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user)" ge 1:10; then
        echo "setup: installing qemu-user from bookworm-backports"
        grep -rqs '^[^#]*bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d ||
            echo "deb $(debian_mirror) bookworm-backports main" >/etc/apt/sources.list.d/bookworm-backports.list
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            -t bookworm-backports qemu-user >/dev/null
    fi
    [ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    [ -e "$binfmt/$1" ] || printf ':%s:M::%s:%s:/usr/bin/%s:F' "$1" "$2" "$3" "$1" >"$binfmt/register"
}

if ! can_run_32_bit && [ "${TARNWICK_NO_EMULATION:-0}" != 1 ]; then
    # 32-bit x86 ELF executables and shared objects (e_machine 3).
    emulate qemu-i386 \
        '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00' \
        '\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    can_run_32_bit || {
        echo "setup: 32-bit Wine does not start, even under qemu-i386" >&2
        exit 1
    }
fi
if emulated i686; then
    echo "setup: 32-bit programs run under emulation (qemu-i386 through binfmt_misc)"
fi

# aarch64: the toolchain, built once from Debian's sources, and arm64
# programs, natively on an aarch64 machine and elsewhere under qemu-aarch64
# (64-bit ARM ELF files, e_machine 183), so that the arm64 root's Wine runs.
if [ "$want_arm64" = yes ]; then
    "$(dirname "$0")/toolchain-arm64.sh"
    if emulated aarch64; then
        emulate qemu-aarch64 \
            '\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00' \
            '\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        echo "setup: aarch64 programs run under emulation (qemu-aarch64 through binfmt_misc)"
    fi
fi
