#!/bin/sh
# tools/sign.sh with a throwaway self-signed certificate made here: as a
# PKCS#12 file with a password and as a PEM pair. Every signature is read
# back by osslsigncode, also of every program file inside the signed ZIP
# and MSI; the build output stays unsigned and unchanged, a wrong password
# signs nothing, and the signed library registers and serves a script under
# Wine.
#   signing.sh WORK BUILD_DIR
# The prefix and the loader come from the environment (WINEPREFIX,
# TARNWICK_WINE_LOADER).
set -eu
work=$(realpath -m "$1") build=$(realpath "$2")
root="$(cd "$(dirname "$0")/../.." && pwd)"
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
. "$root/tools/lib.sh"
fresh_folder "$work" .tarnwick-signing
trap 'rm -rf "$work"' EXIT
failed=0

subject="Tarnwick Throwaway Test Signer"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=$subject" \
    -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" \
    -passout pass:throwaway -out "$work/cert.p12"

outputs() { sha256sum "$build/library/Tarnwick.dll" "$build/regtool/Pelmora.exe" "$build"/packages/*.msi; }
before=$(outputs)
TARNWICK_SIGN_PASSWORD=throwaway "$root/tools/sign.sh" --pkcs12 "$work/cert.p12" \
    --out "$work/p12" "$build" || fail "signing the build with the PKCS#12 file"
"$root/tools/sign.sh" --cert "$work/cert.pem" --key "$work/key.pem" --out "$work/pem" \
    "$build/library/Tarnwick.dll" || fail "signing with the PEM pair"
if TARNWICK_SIGN_PASSWORD=wrong "$root/tools/sign.sh" --pkcs12 "$work/cert.p12" \
        --out "$work/wrong" "$build/library/Tarnwick.dll" >/dev/null 2>&1 ||
   [ -e "$work/wrong/Tarnwick.dll" ]; then
    fail "signed with a wrong password"
fi
[ "$before" = "$(outputs)" ] || fail "signing changed the build output"

signed="$work/p12/$(basename "$build")"
name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
packages="$name.msi $name.zip"
for f in Tarnwick.dll Pelmora.exe $packages; do
    [ -f "$signed/$f" ] || fail "no signed $f"
done
# What the signed packages unpack and install.
mkdir -p "$work/unpacked/zip" "$work/unpacked/msi"
python3 -m zipfile -e "$signed/$name.zip" "$work/unpacked/zip"
msiextract -C "$work/unpacked/msi" "$signed/$name.msi" >/dev/null
find "$work/unpacked" -type f \( -iname '*.dll' -o -iname '*.exe' \) | sort >"$work/inside"
grep -qi '/zip/.*/Tarnwick\.dll$' "$work/inside" || fail "no library in the ZIP"
grep -qi '/msi/.*/Tarnwick\.dll$' "$work/inside" || fail "no library in the MSI"
ls "$signed"/*.dll "$signed"/*.exe "$signed"/*.msi "$work/pem/Tarnwick.dll" >>"$work/inside"
while IFS= read -r f; do
    if osslsigncode verify -CAfile "$work/cert.pem" -in "$f" >"$work/verify.log" 2>&1 &&
       grep -q "CN=$subject" "$work/verify.log"; then
        echo "verified: ${f#"$work"/}"
    else
        cat "$work/verify.log"
        fail "the signature of ${f#"$work"/} does not verify"
    fi
done <"$work/inside"
osslsigncode verify -CAfile "$work/cert.pem" -in "$build/library/Tarnwick.dll" >/dev/null 2>&1 &&
    fail "the built library carries a signature"

# The signed library under Wine: registered, used by a script, unregistered.
folder="$WINEPREFIX/drive_c/Tarnwick signed"
mkdir -p "$folder"
cp "$signed/Tarnwick.dll" "$folder/"
dll='C:\Tarnwick signed\Tarnwick.dll'
if "$TARNWICK_WINE_LOADER" regsvr32 /s "$dll"; then
    "$root/tests/support/run-script.sh" "$(dirname "$0")/classes.vbs" installed ||
        fail "a script cannot use the signed library"
    "$TARNWICK_WINE_LOADER" regsvr32 /s /u "$dll" || fail "the signed library does not unregister"
else
    fail "the signed library does not register"
fi
rm -rf "$folder"

[ $failed -eq 0 ] && echo "signing: passed" || exit 1
