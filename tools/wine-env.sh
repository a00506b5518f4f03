# The Wine environment of every script of this project; source it, do not run it.
#   . "$root/tools/wine-env.sh"
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

# fresh_folder DIR NAME: makes DIR afresh, marked as NAME's work folder; an
# existing DIR is removed only when it carries that mark.
fresh_folder() {
    if [ -e "$1" ]; then
        if [ ! -f "$1/.tarnwick-$2" ]; then
            echo "$2: $1 was not made by it; not removing it" >&2
            return 1
        fi
        rm -rf "$1"
    fi
    mkdir -p "$1" && : >"$1/.tarnwick-$2"
}
