#!/bin/sh
# The arm64 Debian 12 root whose Wine runs the aarch64 target's programs.
#   arm64-root.sh start PROJECT   make the root if it is not there, and mount
#                                 /proc, /dev, /tmp and PROJECT (at the same
#                                 path) into it
#   arm64-root.sh stop            end the programs running inside, unmount
#   arm64-root.sh run COMMAND...  run COMMAND inside, in the current folder,
#                                 with the current environment
# The root is made once by debootstrap (minbase, with wine64 and its
# dependencies) and kept as a tarball in TARNWICK_ARM64_ROOT_CACHE (default
# /var/cache/tarnwick-arm64-root); it is unpacked into TARNWICK_ARM64_ROOT
# (default /var/tmp/tarnwick-arm64-root). Its programs start through the
# qemu-aarch64 entry of binfmt_misc where this machine is not itself aarch64
# (tools/setup.sh aarch64 makes it). start and stop run as root.
set -eu
dir=${TARNWICK_ARM64_ROOT:-/var/tmp/tarnwick-arm64-root}
cache=${TARNWICK_ARM64_ROOT_CACHE:-/var/cache/tarnwick-arm64-root}
mirror=http://deb.debian.org/debian
# What the root holds; the tarball's name follows it, so a change makes a new one.
packages=wine64
tarball="$cache/bookworm-arm64-$packages.tar"
mark="$dir/.tarnwick-arm64-root"

now() { date +%s; }

# Everything mounted under the root, deepest first.
mounted_under() {
    awk -v r="$dir/" 'index($2 "/", r) == 1 { print $2 }' /proc/mounts | sort -r
}

make_root() {
    # Never remove a root with anything mounted in it: /tmp and the project are.
    stop
    [ -z "$(mounted_under)" ] || { echo "arm64-root: $dir still has mounts; not removing it" >&2; exit 1; }
    if [ -e "$dir" ] && [ ! -f "$mark" ]; then
        echo "arm64-root: $dir was not made by this script; not removing it" >&2
        exit 1
    fi
    rm -rf --one-file-system "$dir"
    mkdir -p "$dir"
    : >"$mark"
    t=$(now)
    if [ -f "$tarball" ]; then
        tar -xpf "$tarball" -C "$dir"
        echo "arm64-root: unpacked $tarball in $(($(now) - t)) s"
        return
    fi
    echo "arm64-root: making the arm64 root with debootstrap (some minutes, once)"
    log="$dir.debootstrap.log"
    debootstrap --arch=arm64 --variant=minbase --include="$packages" bookworm "$dir" "$mirror" \
        >"$log" 2>&1 || {
        tail -n 20 "$log" >&2
        echo "arm64-root: debootstrap failed; its log is $log" >&2
        exit 1
    }
    rm -f "$log"
    rm -rf "$dir/var/cache/apt/archives"/*.deb "$dir/var/lib/apt/lists"/*_Packages
    mkdir -p "$cache"
    tar -cpf "$tarball.part" -C "$dir" . && mv "$tarball.part" "$tarball"
    echo "arm64-root: made in $(($(now) - t)) s and kept as $tarball"
}

start() {
    project=$(realpath "$1")
    [ -f "$mark" ] && [ -x "$dir/usr/lib/wine/wine64" ] || make_root
    chroot "$dir" /bin/true 2>/dev/null || {
        echo "arm64-root: aarch64 programs do not start here: run tools/setup.sh aarch64" >&2
        exit 1
    }
    for m in proc dev tmp "${project#/}"; do
        mkdir -p "$dir/$m"
        mountpoint -q "$dir/$m" || mount --rbind "/$m" "$dir/$m"
    done
}

stop() {
    # Programs still running inside (Wine's servers) hold the mounts.
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" = "$dir" ] && kill -9 "${p#/proc/}" 2>/dev/null
    done
    for m in $(mounted_under); do
        umount -R "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
    done
}

run() {
    mountpoint -q "$dir/proc" || {
        echo "arm64-root: not started (tools/arm64-root.sh start PROJECT)" >&2
        exit 1
    }
    exec chroot "$dir" /bin/sh -c 'cd "$0" && exec "$@"' "$PWD" "$@"
}

case "${1:-}" in
start) [ $# -eq 2 ] || { echo "usage: $0 start PROJECT" >&2; exit 2; }; start "$2" ;;
stop) stop ;;
run) shift; run "$@" ;;
*) echo "usage: $0 start PROJECT | stop | run COMMAND..." >&2; exit 2 ;;
esac
