#!/bin/sh
# Signs Tarnwick.dll, Pelmora.exe and the MSI packages with the user's code
# signing certificate (Authenticode, by osslsigncode). The build output is
# left as it is, unsigned and reproducible: the signed copies go to a folder
# of their own.
#
#   tools/sign.sh --pkcs12 FILE | --cert CERT.pem --key KEY.pem
#                 [--timestamp URL] [--out DIR] [BUILD_DIR | FILE]...
#
#   --pkcs12 FILE     certificate and private key in one PKCS#12 file
#   --cert, --key     certificate (chain) and private key as PEM files
#   --timestamp URL   RFC 3161 time-stamp server, so the signature stays valid
#                     after the certificate expires
#   --out DIR         where the signed copies go (default: signed/)
#   BUILD_DIR         a build folder: its Tarnwick.dll, Pelmora.exe and MSIs go
#                     to DIR/<build folder's name>/ (default: build-i686 and
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

for source in "$@"; do
    if [ -d "$source" ]; then
        target="$out/$(basename "$(realpath "$source")")"
        found=0
        for f in "$source/library/Tarnwick.dll" "$source/regtool/Pelmora.exe" "$source"/packages/*.msi; do
            [ -f "$f" ] || continue
            sign "$f" "$target/$(basename "$f")"
            found=$((found + 1))
        done
        [ $found -gt 0 ] || { echo "sign.sh: nothing to sign in $source" >&2; exit 1; }
    elif [ -f "$source" ]; then
        sign "$source" "$out/$(basename "$source")"
    else
        echo "sign.sh: no such file or folder: $source" >&2
        exit 1
    fi
done
echo "sign.sh: $signed files signed into $out"
