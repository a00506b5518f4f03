#!/bin/sh
# Proves the README's two commands on a clean machine: a minimal Debian 12
# root (debootstrap, kept as a tarball between runs), a clean clone of the
# current commit in it, and tools/demo.sh, tools/test.sh and CI's third step,
# tools/test.sh aarch64, run inside with chroot, each with its wall time,
# exit status and last lines.
#   tools/fresh-check.sh            run the three
#   tools/fresh-check.sh --keep     and keep the root for a look afterwards
# Runs as root. Downloads about two gigabytes of packages and sources, and
# builds the aarch64 toolchain and arm64 root afresh; not part of CI.
# TARNWICK_FRESH_CACHE names the folder of the cached root tarball
# (default /var/cache/tarnwick-fresh); the root is made under /var/tmp.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/lib.sh"
keep=
[ "${1:-}" = --keep ] && keep=1
mirror=$(debian_mirror)
security=$(debian_mirror security)
cache=${TARNWICK_FRESH_CACHE:-/var/cache/tarnwick-fresh}
tarball="$cache/bookworm-minbase.tar"

[ "$(id -u)" -eq 0 ] || { echo "fresh-check: run as root" >&2; exit 2; }
command -v debootstrap >/dev/null || {
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
}
commit=$(git -C "$root" rev-parse HEAD)
[ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] ||
    echo "fresh-check: uncommitted changes are not checked; checking $commit"

fresh=$(mktemp -d /var/tmp/tarnwick-fresh.XXXXXX)

cleanup() {
    status=$?
    set +e
    trap - EXIT INT TERM HUP
    unmount_under "$fresh"
    if [ -n "$(mounted_under "$fresh")" ]; then
        echo "fresh-check: still mounted under $fresh; not removing it" >&2
    elif [ -n "$keep" ]; then
        echo "fresh-check: the root is kept in $fresh"
    else
        rm -rf "$fresh"
    fi
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# What a newly installed Debian 12 machine reads its packages from.
write_sources_list() {
    cat >"$1/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
}

echo "== root: $fresh"
cached_root "$fresh" "$tarball" write_sources_list --variant=minbase bookworm "$fresh" "$mirror"
cp /etc/resolv.conf "$fresh/etc/resolv.conf"

# A clean clone of the current commit, as a new user would have it.
git clone -q --no-local "$root" "$fresh/root/tarnwick"
git -C "$fresh/root/tarnwick" checkout -q "$commit"

for m in proc dev dev/pts sys; do
    mount --bind "/$m" "$fresh/$m"
done

# Runs one README command (with its arguments) inside the root with a
# login's plain environment.
check_command() {
    name=$1
    shift
    log="$fresh/root/$name${1:+-$1}.log"
    t=$(now)
    rc=0
    chroot "$fresh" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        sh -c "cd /root/tarnwick && tools/$name.sh $*" >"$log" 2>&1 || rc=$?
    echo "== tools/$name.sh${1:+ $*}: exit status $rc, $(elapsed "$t") s"
    grep '^setup: installed' "$log" | sed 's/^/   /' || true
    tail -n 15 "$log" | sed 's/^/   /'
    [ "$rc" -eq 0 ] || failed=1
}
failed=0
check_command demo
check_command test
check_command test aarch64
[ "$failed" -eq 0 ] && echo "== fresh check passed ($commit)" || echo "== fresh check FAILED ($commit)"
exit "$failed"
