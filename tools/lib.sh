# shellcheck shell=sh disable=SC2034  # its variables are for the scripts that source it
# The shell library of this project's scripts and test scripts; source it,
# do not run it:
#   . "$root/tools/lib.sh"
# Its functions keep their own values in variables named lib_*, which no
# script uses: in sh a function's variables are the caller's.

# ---------------------------------------------------------------- Wine
# No debug output, and no .NET runtime or HTML engine: without these two
# overrides a fresh prefix offers to download them.
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# The loaders, by target. The 64-bit one also makes and queries prefixes: the
# wine command picks the 32-bit loader, which fails where 32-bit programs
# cannot start.
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
wineserver=wineserver
# TARNWICK_WINE_BIN names a folder whose wine64 and wineserver stand for
# these two: the aarch64 target's, which run inside the arm64 root.
if [ -n "${TARNWICK_WINE_BIN:-}" ]; then
    wine64=$TARNWICK_WINE_BIN/wine64
    wineserver=$TARNWICK_WINE_BIN/wineserver
fi

# wine_loader TARGET: the loader that runs the programs of i686 or x86_64.
wine_loader() {
    case "$1" in
    i686) echo "$wine32" ;;
    x86_64) echo "$wine64" ;;
    *) echo "wine_loader: no target $1" >&2; return 2 ;;
    esac
}

# can_run_32_bit: whether this machine starts 32-bit programs at all.
can_run_32_bit() { "$wine32" --version >/dev/null 2>&1; }

# emulated TARGET: whether the target's programs run here under qemu-user
# (the binfmt_misc entry that tools/setup.sh makes) rather than natively.
emulated() {
    case "$1" in
    i686) grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386 ;;
    aarch64) [ "$(uname -m)" != aarch64 ] ;;
    *) return 1 ;;
    esac
}

# windows_path FILE: the Windows name of a file of this machine, on Wine's
# drive Z: (the root), without starting Wine.
windows_path() { printf 'Z:%s' "$(realpath -m "$1")" | tr / '\\'; }

# ---------------------------------------------------------------- building
# build_target [--keep-cache] TARGET BUILD CMAKE_ARGS [NAME...]: configures
# the folder BUILD for TARGET with its toolchain file and CMAKE_ARGS (split at
# blanks; may be empty), then builds NAME... (everything when none is
# named). --keep-cache leaves a folder that is configured already as it is
# (a folder named by the user may come from another source tree). The
# project's folder is $root, which every script that builds sets.
build_target() {
    lib_configure=yes
    if [ "$1" = --keep-cache ]; then
        shift
        [ ! -f "$2/CMakeCache.txt" ] || lib_configure=no
    fi
    if [ "$lib_configure" = yes ]; then
        # shellcheck disable=SC2086  # CMAKE_ARGS holds several arguments
        cmake -S "${root:?}" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$1.cmake" $3 >/dev/null || return
    fi
    lib_build=$2
    shift 3
    [ $# -eq 0 ] || set -- --target "$@"
    cmake --build "$lib_build" -j "$(nproc)" "$@"
}

# ---------------------------------------------------------------- messages and time
# script_name: the running script's name without .sh, which starts the
# library's messages.
script_name() { lib_name=${0##*/}; echo "${lib_name%.sh}"; }

# now: the time, for elapsed.
now() { date +%s.%N; }
# elapsed START: the seconds since START (a value of now), to a tenth.
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# ---------------------------------------------------------------- work folders
# A folder that a script removes and makes again carries a marker file, so
# that a folder of the same name made by anyone else is never removed.

# remove_marked DIR MARKER [COMMAND...]: removes DIR, if it is there and
# carries the file MARKER, after running COMMAND (which ends what uses it);
# fails, saying why, where DIR is there without MARKER.
remove_marked() {
    [ -e "$1" ] || return 0
    if [ ! -f "$1/$2" ]; then
        echo "$(script_name): $1 was not made by this script (it has no $2); not removing it" >&2
        return 1
    fi
    lib_dir=$1
    shift 2
    if [ $# -gt 0 ]; then "$@" || return; fi
    rm -rf --one-file-system "$lib_dir"
}

# fresh_folder DIR MARKER [COMMAND...]: DIR made afresh and marked with the
# file MARKER; an existing DIR goes as remove_marked removes it.
fresh_folder() {
    remove_marked "$@" && mkdir -p "$1" && : >"$1/$2"
}

# ---------------------------------------------------------------- Debian roots
# debian_mirror [security]: the Debian archive this machine's apt reads its
# release from (or its security archive), as apt is set up here, so that a
# root follows the same mirror.
debian_mirror() {
    lib_suite=$(. /etc/os-release && echo "$VERSION_CODENAME")${1:+-$1}
    lib_mirror=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(TARGET_OF)' |
        awk -v s="$lib_suite" '$2 == s && $3 == "deb" { sub(/\/$/, "", $1); print $1; exit }')
    [ -n "$lib_mirror" ] || { echo "debian_mirror: apt has no source for $lib_suite" >&2; return 1; }
    echo "$lib_mirror"
}

# follow_apt_proxy: exports apt's HTTP proxy, if it has one, as http_proxy,
# which debootstrap and the roots' apt read.
follow_apt_proxy() {
    eval "$(apt-config shell lib_proxy Acquire::http::Proxy)"
    if [ -n "${lib_proxy:-}" ]; then export http_proxy="$lib_proxy"; fi
}

# mounted_under DIR: every mount point in the folder DIR, deepest first.
mounted_under() {
    awk -v r="$1/" 'index($2 "/", r) == 1 { print $2 }' /proc/mounts | sort -r
}

# unmount_under DIR: ends the programs whose root is DIR (Wine's servers
# hold the mounts), then unmounts everything in DIR, deepest first, lazily
# where a mount is still busy.
unmount_under() {
    for lib_process in /proc/[0-9]*; do
        if [ "$(readlink "$lib_process/root" 2>/dev/null)" = "$1" ]; then
            kill -9 "${lib_process#/proc/}" 2>/dev/null || true
        fi
    done
    sleep 1
    for lib_mount in $(mounted_under "$1"); do
        umount -R "$lib_mount" 2>/dev/null || umount -l "$lib_mount" 2>/dev/null || true
    done
}

# cached_root DIR TARBALL HOOK DEBOOTSTRAP_ARG...: fills the empty folder
# DIR with a Debian root. The first time debootstrap DEBOOTSTRAP_ARG...
# makes it (its arguments name DIR), HOOK DIR finishes it and it is kept as
# TARBALL; afterwards it is unpacked from there.
cached_root() {
    lib_root_dir=$1 lib_tarball=$2 lib_hook=$3
    shift 3
    lib_started=$(now)
    if [ -f "$lib_tarball" ]; then
        tar -xpf "$lib_tarball" -C "$lib_root_dir" || return
        echo "$(script_name): root unpacked from $lib_tarball in $(elapsed "$lib_started") s"
        return 0
    fi
    echo "$(script_name): making the root with debootstrap (some minutes, once)"
    lib_log=$lib_root_dir.debootstrap.log
    follow_apt_proxy
    debootstrap "$@" >"$lib_log" 2>&1 || {
        tail -n 20 "$lib_log" >&2
        echo "$(script_name): debootstrap failed; its log is $lib_log" >&2
        return 1
    }
    rm -f "$lib_log"
    "$lib_hook" "$lib_root_dir" || return
    mkdir -p "$(dirname "$lib_tarball")" &&
        tar -cpf "$lib_tarball.part" -C "$lib_root_dir" . &&
        mv "$lib_tarball.part" "$lib_tarball" || return
    echo "$(script_name): root made in $(elapsed "$lib_started") s and kept as $lib_tarball"
}

# ---------------------------------------------------------------- checks
# fail MESSAGE: one failed check of a test script, said and counted in
# $failed.
fail() { echo "FAILED: $*"; failed=$((${failed:-0} + 1)); }
