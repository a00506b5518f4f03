#!/bin/sh
# The arm64 Debian 13 root whose Wine (10.0) runs the aarch64 target's
# programs.
#   arm64-root.sh start PROJECT   make the root if it is not there, and mount
#                                 /proc, /dev, /tmp and PROJECT (at the same
#                                 path) into it
#   arm64-root.sh stop            end the programs running inside, unmount
#   arm64-root.sh run COMMAND...  run COMMAND inside, in the current folder,
#                                 with the current environment
# The root is made once by debootstrap (minbase, with wine64 and its
# dependencies, from the Debian mirror this machine's apt uses) and kept as
# a tarball in TARNWICK_ARM64_ROOT_CACHE (default
# /var/cache/tarnwick-arm64-root); it is unpacked into TARNWICK_ARM64_ROOT
# (default /var/tmp/tarnwick-arm64-root). Its programs start through the
# qemu-aarch64 entry of binfmt_misc where this machine is not itself aarch64
# (tools/setup.sh aarch64 makes it). start and stop run as root.
#
# Why Debian 13: Debian 12 builds Wine 8 for arm64 with gcc, whose code
# clears x18, the register that holds the thread's TEB, when the loader
# returns a module it has loaded already; the next C++ throw then faults.
# Debian 13's Wine 10 is built with clang as PE and keeps x18.
set -eu
. "$(dirname "$0")/lib.sh"
dir=${TARNWICK_ARM64_ROOT:-/var/tmp/tarnwick-arm64-root}
cache=${TARNWICK_ARM64_ROOT_CACHE:-/var/cache/tarnwick-arm64-root}
suite=trixie
# What the root holds; the tarball's name follows the suite and it, so a
# change makes a new one.
packages=wine64
tarball="$cache/$suite-arm64-$packages.tar"
marker=.tarnwick-arm64-root

# The downloaded packages and package lists stay out of the tarball.
drop_apt_caches() {
    rm -rf "$1/var/cache/apt/archives"/*.deb "$1/var/lib/apt/lists"/*_Packages
}

make_root() {
    # Never remove a root with anything mounted in it: /tmp and the project are.
    unmount_under "$dir"
    [ -z "$(mounted_under "$dir")" ] || { echo "arm64-root: $dir still has mounts; not removing it" >&2; exit 1; }
    fresh_folder "$dir" "$marker" || exit 1
    cached_root "$dir" "$tarball" drop_apt_caches \
        --arch=arm64 --variant=minbase --include="$packages" "$suite" "$dir" "$(debian_mirror)"
}

# The processor that qemu-aarch64 offers the root's programs, where they run
# under emulation: one without BTI and MTE. With any model that has them
# (the default "max", "max,pauth=off", "max,sme=off", "neoverse-n2"), Wine
# 10's first boot hangs, wineboot.exe spinning; cortex-a72 (22 to 41 s),
# neoverse-n1 (15 s) and neoverse-v1 (18 s, with pointer authentication)
# boot. Wine's child processes and services take it from the environment.
export QEMU_CPU=neoverse-n1

start() {
    project=$(realpath "$1")
    [ -f "$dir/$marker" ] && [ -x "$dir/usr/lib/wine/wine64" ] || make_root
    chroot "$dir" /bin/true 2>/dev/null || {
        echo "arm64-root: aarch64 programs do not start here: run tools/setup.sh aarch64" >&2
        exit 1
    }
    for m in proc dev tmp "${project#/}"; do
        mkdir -p "$dir/$m"
        mountpoint -q "$dir/$m" || mount --rbind "/$m" "$dir/$m"
    done
}

run_inside() {
    mountpoint -q "$dir/proc" || {
        echo "arm64-root: not started (tools/arm64-root.sh start PROJECT)" >&2
        exit 1
    }
    exec chroot "$dir" /bin/sh -c 'cd "$0" && exec "$@"' "$PWD" "$@"
}

case "${1:-}" in
start) [ $# -eq 2 ] || { echo "usage: $0 start PROJECT" >&2; exit 2; }; start "$2" ;;
stop) unmount_under "$dir" ;;
run) shift; run_inside "$@" ;;
*) echo "usage: $0 start PROJECT | stop | run COMMAND..." >&2; exit 2 ;;
esac
