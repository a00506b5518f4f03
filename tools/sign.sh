#!/bin/sh
# Signs Tarnwick.dll and Pelmora.exe with the user's code signing
# certificate (Authenticode, by osslsigncode), packs the ZIP and the MSI
# again from those signed files, and signs the MSI: every program file that
# a signed package installs or unpacks carries the signature too. The build
# output is left as it is, unsigned and reproducible: the signed copies and
# packages go to a folder of their own.
#
#   tools/sign.sh --pkcs12 FILE | --cert CERT.pem --key KEY.pem
#                 [--timestamp URL] [--out DIR] [BUILD_DIR | FILE]...
#
#   --pkcs12 FILE     certificate and private key in one PKCS#12 file
#   --cert, --key     certificate (chain) and private key as PEM files
#   --timestamp URL   RFC 3161 time-stamp server, so the signature stays valid
#                     after the certificate expires
#   --out DIR         where the signed copies go (default: signed/)
#   BUILD_DIR         a build folder, built and packed: its Tarnwick.dll,
#                     Pelmora.exe (and win32/Tarnwick.dll, the 32-bit library of
#                     the 64-bit package), its ZIP and its MSI go to
#                     DIR/<build folder's name>/ (default: build-i686 and
#                     build-x86_64, those that exist)
#   FILE              one file, signed to DIR/<its name>
#
# The key's password, if it has one, is read from the environment variable
# TARNWICK_SIGN_PASSWORD (never from the command line, where other users of
# the machine could see it).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
usage() { sed -n '2,/^set -eu/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2; }

pkcs12="" cert="" key="" timestamp="" out="$root/signed"
while [ $# -gt 0 ]; do
    case "$1" in
    --pkcs12) pkcs12=$2; shift 2 ;;
    --cert) cert=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h|--help) usage ;;
    --) shift; break ;;
    -*) echo "sign.sh: unknown option $1" >&2; usage ;;
    *) break ;;
    esac
done
if ! { [ -n "$pkcs12" ] && [ -z "$cert$key" ]; } &&
   ! { [ -z "$pkcs12" ] && [ -n "$cert" ] && [ -n "$key" ]; }; then
    echo "sign.sh: give either --pkcs12 FILE or both --cert and --key" >&2
    exit 2
fi
command -v osslsigncode >/dev/null 2>&1 || {
    echo "sign.sh: osslsigncode is missing: run tools/setup.sh (Debian package osslsigncode)" >&2
    exit 1
}
for f in "$pkcs12" "$cert" "$key"; do
    [ -z "$f" ] || [ -r "$f" ] || { echo "sign.sh: cannot read $f" >&2; exit 1; }
done

if [ $# -eq 0 ]; then
    for t in i686 x86_64; do
        [ -d "$root/build-$t" ] && set -- "$@" "$root/build-$t"
    done
    [ $# -gt 0 ] || { echo "sign.sh: no build folder: build first (tools/package.sh)" >&2; exit 1; }
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT
passfile="$work/pass"
(umask 077; printf '%s' "${TARNWICK_SIGN_PASSWORD:-}" >"$passfile")

signed=0
sign() {  # sign FILE TARGET
    mkdir -p "$(dirname "$2")"
    rm -f "$2"
    in=$1 to=$2
    if [ -n "$pkcs12" ]; then
        set -- -pkcs12 "$pkcs12"
    else
        set -- -certs "$cert" -key "$key"
    fi
    [ -z "$timestamp" ] || set -- "$@" -ts "$timestamp"
    [ -z "${TARNWICK_SIGN_PASSWORD:-}" ] || set -- "$@" -readpass "$passfile"
    if ! osslsigncode sign "$@" -h sha256 -n Tarnwick \
            -in "$in" -out "$to" >"$work/log" 2>&1; then
        cat "$work/log" >&2
        echo "sign.sh: could not sign $in" >&2
        exit 1
    fi
    echo "signed: $to"
    signed=$((signed + 1))
}

# package_name BUILD: the name of the build's packages, without the ending
# ("Tarnwick-1.13.1512-win32"); nothing when it makes none.
package_name() {
    sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$1/CPackConfig.cmake" 2>/dev/null
}

# pack_zip BUILD TARGET: the build's ZIP, with the signed library and tool
# in place of its own.
pack_zip() {
    name=$(package_name "$1")
    [ -n "$name" ] || return 0
    stage="$work/zip/$name"
    cmake --install "$1" --prefix "$stage" >/dev/null
    for f in Tarnwick.dll Pelmora.exe; do
        [ ! -f "$stage/bin/$f" ] || cp "$2/$f" "$stage/bin/$f"
    done
    python3 "$root/cmake/packaging-repack.py" "$2/$name.zip" "$stage"
    rm -rf "$work/zip"
    echo "packed: $2/$name.zip"
}

# pack_msi BUILD TARGET: the build's MSI, from the signed files, then signed.
pack_msi() {
    [ -x "$1/packaging-msi.sh" ] && [ -d "$1/msi-stage" ] || return 0
    msi=$(package_name "$1").msi
    cp -R "$1/msi-stage" "$work/msi"
    for f in Tarnwick.dll Pelmora.exe win32/Tarnwick.dll; do
        [ ! -f "$work/msi/$f" ] || cp "$2/$f" "$work/msi/$f"
    done
    "$1/packaging-msi.sh" "$work/msi" "$work/$msi" >/dev/null
    sign "$work/$msi" "$2/$msi"
    rm -rf "$work/msi" "$work/$msi"
}

for source in "$@"; do
    if [ -d "$source" ]; then
        target="$out/$(basename "$(realpath "$source")")"
        found=0
        for f in library/Tarnwick.dll regtool/Pelmora.exe win32/library/Tarnwick.dll; do
            [ -f "$source/$f" ] || continue
            case $f in
            win32/*) sign "$source/$f" "$target/win32/$(basename "$f")" ;;
            *) sign "$source/$f" "$target/$(basename "$f")" ;;
            esac
            found=$((found + 1))
        done
        [ $found -gt 0 ] || { echo "sign.sh: nothing to sign in $source" >&2; exit 1; }
        pack_zip "$source" "$target"
        pack_msi "$source" "$target"
    elif [ -f "$source" ]; then
        sign "$source" "$out/$(basename "$source")"
    else
        echo "sign.sh: no such file or folder: $source" >&2
        exit 1
    fi
done
echo "sign.sh: $signed files signed into $out"
