#!/bin/sh
# The previous release's MSI installed, then this release's over it: one
# product is left, this one; the type library is registered in its new
# version and none of the old one's entries is left; and the previous
# release's own clients, built from its sources, keep working unchanged: its
# early-bound sample (the 1.0 method tables) and its late-bound script.
# Then this release is removed and nothing is left.
#   upgrade-from-previous.sh PREVIOUS-WORK MSI LIBID OLD-VERSION NEW-VERSION
# The prefix and the loader come from the environment (WINEPREFIX,
# TARNWICK_WINE_LOADER).
set -eu
previous=$(realpath "$1") msi=$(realpath "$2") libid=$3 old=$4 new=$5
. "$(dirname "$0")/../../tools/lib.sh"
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
loader=$TARNWICK_WINE_LOADER
failed=0
old_msi=$(ls "$previous/build/packages/"*.msi)

msiexec() { "$loader" msiexec /i "$(windows_path "$1")" /qn; }
exists() { "$loader" reg query "$1" "/reg:$2" >/dev/null 2>&1; }
# The sample's output must end with "Done." and its status be 0.
runs() {
    out=$("$loader" "$@" 2>&1 | tr -d '\r') && [ "$(printf '%s\n' "$out" | tail -n 1)" = Done. ] ||
        { printf '%s\n' "$out" | tail -n 5; return 1; }
}

msiexec "$old_msi" || fail "installing $(basename "$old_msi")"
exists "HKCR\\TypeLib\\$libid\\$old" 64 || fail "the previous release registered no type library $old"
msiexec "$msi" || fail "installing $(basename "$msi") over it"
for bits in 64 32; do
    exists "HKCR\\TypeLib\\$libid\\$new" "$bits" || fail "no type library $new ($bits-bit view)"
    exists "HKCR\\TypeLib\\$libid\\$old" "$bits" && fail "the type library $old is left ($bits-bit view)"
done
products=$("$loader" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | grep -c 'DisplayName  *REG_SZ  *Tarnwick' || true)
[ "$products" = 1 ] || fail "$products installed products named Tarnwick, not 1"

runs "$previous/build/examples/early_bound.exe" || fail "the previous release's early-bound sample"
runs cscript //nologo "$(windows_path "$previous/src/examples/registry.vbs")" ||
    fail "the previous release's VBScript sample"
runs cscript //nologo "$(windows_path "$previous/src/examples/registry.js")" ||
    fail "the previous release's JScript sample"

"$loader" msiexec /x "$(windows_path "$msi")" /qn || fail "removing $(basename "$msi")"
exists "HKCR\\TypeLib\\$libid" 64 && fail "the type library is left after removing"
exists 'HKCR\TarnwickDLL.Registry' 64 && fail "a ProgID is left after removing"

[ $failed -eq 0 ] && echo "upgrade from the previous release: passed" || exit 1
