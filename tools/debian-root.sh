#!/bin/sh
# The Debian 13 roots whose Wine (10.0) runs what this machine's Wine 8 does
# not:
#   arm64  the aarch64 target's programs (tools/arm64-root.sh is this script
#          for arm64)
#   amd64  the PowerShell of tests/powershell, natively
# Usage, ARCH being arm64 or amd64:
#   debian-root.sh ARCH start FOLDER...  make the root if it is not there, and
#                                        mount /proc, /dev, /tmp and each
#                                        FOLDER (at the same path) into it
#   debian-root.sh ARCH stop             end the programs running inside,
#                                        unmount
#   debian-root.sh ARCH run COMMAND...   run COMMAND inside, in the current
#                                        folder, with the current environment
# A root is made once by debootstrap (minbase, with wine64 and its
# dependencies, from the Debian mirror this machine's apt uses) and kept as
# a tarball in TARNWICK_ARM64_ROOT_CACHE or TARNWICK_AMD64_ROOT_CACHE
# (default /var/cache/tarnwick-ARCH-root); it is unpacked into
# TARNWICK_ARM64_ROOT or TARNWICK_AMD64_ROOT (default
# /var/tmp/tarnwick-ARCH-root). Where this machine is not of ARCH, the
# root's programs start through the qemu entry of binfmt_misc (tools/setup.sh
# aarch64 makes the arm64 one). start and stop run as root.
#
# Why Debian 13 for arm64: Debian 12 builds Wine 8 for arm64 with gcc, whose
# code clears x18, the register that holds the thread's TEB, when the loader
# returns a module it has loaded already; the next C++ throw then faults.
# Debian 13's Wine 10 is built with clang as PE and keeps x18.
set -eu
. "$(dirname "$0")/lib.sh"
usage() {
    echo "usage: $0 arm64|amd64 start FOLDER... | stop | run COMMAND..." >&2
    exit 2
}
arch=${1:-}
case "$arch" in
arm64)
    # The processor that qemu-aarch64 offers the root's programs, where they
    # run under emulation: one without BTI and MTE. With any model that has
    # them (the default "max", "max,pauth=off", "max,sme=off", "neoverse-n2"),
    # Wine 10's first boot hangs, wineboot.exe spinning; cortex-a72 (22 to
    # 41 s), neoverse-n1 (15 s) and neoverse-v1 (18 s, with pointer
    # authentication) boot. Wine's child processes and services take it from
    # the environment.
    export QEMU_CPU=neoverse-n1
    not_here="aarch64 programs do not start here: run tools/setup.sh aarch64"
    dir=${TARNWICK_ARM64_ROOT:-/var/tmp/tarnwick-arm64-root}
    cache=${TARNWICK_ARM64_ROOT_CACHE:-/var/cache/tarnwick-arm64-root}
    ;;
amd64)
    not_here="x86_64 programs do not start here"
    dir=${TARNWICK_AMD64_ROOT:-/var/tmp/tarnwick-amd64-root}
    cache=${TARNWICK_AMD64_ROOT_CACHE:-/var/cache/tarnwick-amd64-root}
    ;;
*) usage ;;
esac
shift
suite=trixie
# What the root holds: the 64-bit Wine loader and its DLLs, which bring the
# rest. A Windows .NET needs nothing of the root's own. The tarball's name
# follows the suite and the packages, so a change makes a new one.
packages=wine64
tarball="$cache/$suite-$arch-$packages.tar"
marker=.tarnwick-$arch-root
name="$arch-root"

# The downloaded packages and package lists stay out of the tarball.
drop_apt_caches() {
    rm -rf "$1/var/cache/apt/archives"/*.deb "$1/var/lib/apt/lists"/*_Packages
}

make_root() {
    # Never remove a root with anything mounted in it: /tmp and the project are.
    unmount_under "$dir"
    [ -z "$(mounted_under "$dir")" ] || { echo "$name: $dir still has mounts; not removing it" >&2; exit 1; }
    fresh_folder "$dir" "$marker" || exit 1
    cached_root "$dir" "$tarball" drop_apt_caches \
        --arch="$arch" --variant=minbase --include="$packages" "$suite" "$dir" "$(debian_mirror)"
}

start() {
    [ -f "$dir/$marker" ] && [ -x "$dir/usr/lib/wine/wine64" ] || make_root
    chroot "$dir" /bin/true 2>/dev/null || { echo "$name: $not_here" >&2; exit 1; }
    for folder in proc dev tmp "$@"; do
        m=$(realpath -m "/$folder")
        mkdir -p "$dir$m"
        mountpoint -q "$dir$m" || mount --rbind "$m" "$dir$m"
    done
}

run_inside() {
    mountpoint -q "$dir/proc" || {
        echo "$name: not started ($0 $arch start FOLDER...)" >&2
        exit 1
    }
    exec chroot "$dir" /bin/sh -c 'cd "$0" && exec "$@"' "$PWD" "$@"
}

case "${1:-}" in
start) [ $# -ge 2 ] || usage; shift; start "$@" ;;
stop) unmount_under "$dir" ;;
run) shift; run_inside "$@" ;;
*) usage ;;
esac
