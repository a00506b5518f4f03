#!/bin/sh
# The 64-bit and the 32-bit library registered side by side in one 64-bit
# prefix, each by its own regsvr32. Each script host writes through View
# into the other's registry view, where the other one reads it. Either
# library unregistered (twice, which succeeds twice) leaves the other
# serving every class to its own script host, with its class and interface
# entries and its half of the type library; the second one unregistered
# leaves nothing behind.
#   both-views.sh WORK DLL64 DLL32 LIBID VERSION CLSID IID
# (the type library's identifier and version, and the identifiers of the
# Registry class and its 1.0 interface)
# The prefix and the loaders come from the environment (WINEPREFIX,
# TARNWICK_WINE_LOADER for 64-bit programs, TARNWICK_WINE32_LOADER).
set -eu
work=$(realpath -m "$1")
root="$(cd "$(dirname "$0")/../.." && pwd)"
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}" "${TARNWICK_WINE32_LOADER:?}"
. "$root/tools/lib.sh"
if ! "$TARNWICK_WINE32_LOADER" --version >/dev/null 2>&1; then
    echo "SKIPPED: $TARNWICK_WINE32_LOADER cannot start on this machine"
    exit 77
fi
fresh_folder "$work" .tarnwick-views
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/64" "$work/32"
cp "$2" "$work/64/Tarnwick.dll"
cp "$3" "$work/32/Tarnwick.dll"
failed=0

loader() { [ "$1" = 64 ] && echo "$TARNWICK_WINE_LOADER" || echo "$TARNWICK_WINE32_LOADER"; }
regsvr() {  # regsvr BITS [/u]
    "$(loader "$1")" regsvr32 /s ${2:-} "$(windows_path "$work/$1/Tarnwick.dll")"
}
# exists BITS KEY: whether the key is there in that bitness's view.
exists() { "$TARNWICK_WINE_LOADER" reg query "$2" "/reg:$1" >/dev/null 2>&1; }
libid=$4 version=$5 clsid=$6 iid=$7
win() { [ "$1" = 64 ] && echo win64 || echo win32; }

# Each script host reaches the other's view through View: what the 32-bit
# one writes through View 64 the 64-bit one reads in its own view, and the
# other way round.
echo "== both registered: each script host writes into the other's view"
regsvr 64 && regsvr 32 || fail "registering both"
cat >"$work/write.vbs" <<'VBS'
Set reg = CreateObject("TarnwickDLL.Registry")
If reg.RegWriteValue("HKLM", "Software\TarnwickTests\views", WScript.Arguments(0), _
    "from " & WScript.Arguments(0), , CLng(WScript.Arguments(1))) Then WScript.Echo "written"
VBS
cat >"$work/read.vbs" <<'VBS'
Set reg = CreateObject("TarnwickDLL.Registry")
WScript.Echo reg.RegReadValue("HKLM", "Software\TarnwickTests\views", WScript.Arguments(0))
VBS
for writer in 32 64; do
    reader=$((96 - writer))
    said=$("$(loader "$writer")" cscript //nologo "$(windows_path "$work/write.vbs")" "w$writer" "$reader" | tr -d '\r')
    [ "$said" = written ] || fail "the $writer-bit script host could not write through View $reader: $said"
    read=$("$(loader "$reader")" cscript //nologo "$(windows_path "$work/read.vbs")" "w$writer" | tr -d '\r')
    [ "$read" = "from w$writer" ] || fail "the $reader-bit script host read \"$read\", not what the $writer-bit one wrote"
    "$TARNWICK_WINE_LOADER" reg delete 'HKLM\Software\TarnwickTests\views' "/reg:$reader" /f >/dev/null 2>&1 || true
done
regsvr 64 /u && regsvr 32 /u || fail "unregistering both"

for gone in 64 32; do
    kept=$((96 - gone))
    echo "== both registered, then the $gone-bit library unregistered"
    regsvr 64 && regsvr 32 || fail "registering both"
    regsvr "$gone" /u || fail "unregistering the $gone-bit library"
    regsvr "$gone" /u || fail "unregistering the $gone-bit library a second time"
    TARNWICK_WINE_LOADER=$(loader "$kept") "$root/tests/support/run-script.sh" \
        "$(dirname "$0")/classes.vbs" installed ||
        fail "the $kept-bit script host cannot use the $kept-bit library"
    exists "$kept" "HKCR\\CLSID\\$clsid\\InprocServer32" || fail "the $kept-bit class entry is gone"
    exists "$kept" "HKCR\\Interface\\$iid" || fail "the $kept-bit interface entry is gone"
    exists "$kept" "HKCR\\TypeLib\\$libid\\$version\\0\\$(win "$kept")" ||
        fail "the $kept-bit type library entry is gone"
    exists "$gone" "HKCR\\CLSID\\$clsid" && fail "the $gone-bit class entry stayed"
    exists "$gone" "HKCR\\TypeLib\\$libid\\$version\\0\\$(win "$gone")" &&
        fail "the $gone-bit type library entry stayed"
    regsvr "$kept" /u || fail "unregistering the $kept-bit library"
    for bits in 64 32; do
        for key in "TarnwickDLL.Registry" "CLSID\\$clsid" "Interface\\$iid" "TypeLib\\$libid"; do
            exists "$bits" "HKCR\\$key" && fail "HKCR\\$key stayed in the $bits-bit view"
        done
    done
done

[ $failed -eq 0 ] && echo "both views: passed" || exit 1
