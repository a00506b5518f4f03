#!/bin/sh
# Registration-free activation: regfree.exe with Tarnwick.dll and
# Tarnwick.manifest beside it, in a fresh prefix in which nothing of
# Tarnwick is registered.
#   regfree.sh WORK LOADER REGFREE_EXE DLL MANIFEST KEY...
# KEY: the keys under HKEY_CLASSES_ROOT that registering would write.
# First without the manifest: the program must fail, which shows that
# nothing else provides the classes. Then with it: every class works, and
# no class or ProgID is registered afterwards. (Wine's automation
# marshaller registers the type library it finds through the manifest by
# its bare file name, so the TypeLib and Interface keys are only checked
# before the run.) Exits 77 (skipped) when the loader cannot
# run on this machine (32-bit programs where the kernel cannot start them).
set -eu
work=$(realpath -m "$1") loader=$2 exe=$3 dll=$4 manifest=$5
shift 5
tools="$(cd "$(dirname "$0")/../.." && pwd)/tools"
. "$tools/lib.sh"
if ! "$loader" --version >/dev/null 2>&1; then
    echo "SKIPPED: $loader cannot run on this machine"
    exit 77
fi
export WINEPREFIX="$work/prefix"
fresh_folder "$work" .tarnwick-regfree
trap '"$tools/wine-prefix.sh" destroy "$WINEPREFIX"; rm -rf "$work"' EXIT
mkdir -p "$work/app"
"$tools/wine-prefix.sh" create "$WINEPREFIX"
cp "$exe" "$dll" "$manifest" "$work/app/"
failed=0

unregistered() {
    for key in "$@"; do
        if "$loader" reg query "HKCR\\$key" >/dev/null 2>&1; then
            fail "$key is registered $when"
        fi
    done
}
when="before the run"; unregistered "$@"

run_program() {  # the program's output without CRs; its exit code
    rc=0
    (cd "$work/app" && "$loader" regfree.exe >"$work/out" 2>&1) || rc=$?
    out=$(tr -d '\r' <"$work/out")
    return $rc
}

mv "$work/app/Tarnwick.manifest" "$work/"
run_program && fail "regfree.exe succeeds without Tarnwick.manifest"
printf '%s\n' "$out" | grep -q "found in the manifest" && fail "a class is found without Tarnwick.manifest"
mv "$work/Tarnwick.manifest" "$work/app/"

run_program || fail "regfree.exe exit code $rc"
printf '%s\n' "$out"
for line in \
    "TarnwickDLL.Registry: found in the manifest" \
    "TarnwickDLL.WindowsInfo: found in the manifest" \
    "TarnwickDLL.Time: found in the manifest" \
    "TarnwickDLL.Reboot: found in the manifest" \
    "early RegWriteString: 1" \
    "late RegReadString: Hello without registering" \
    "early RegReadValue: Hello without registering" \
    "early GetOSType: 2" \
    "other apartment CurrentGMTTime: 8 characters" \
    "late Reboot has dispatch id 0x60030000" \
    "Done."; do
    printf '%s\n' "$out" | grep -qxF "$line" || fail "no line \"$line\""
done
printf '%s\n' "$out" | grep -qE '^early CurrentGMTTime: [0-9]{2}:[0-9]{2}:[0-9]{2}$' || fail "no early CurrentGMTTime"
printf '%s\n' "$out" | grep -qE '^early GetProcessArchitecture: (x86|x64|ARM64)$' || fail "no early GetProcessArchitecture"
printf '%s\n' "$out" | grep -qE '^early CurrentUTCTimestamp: [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{3}Z$' || fail "no early CurrentUTCTimestamp"
printf '%s\n' "$out" | grep -qE '^late CurrentLocalTime: [0-9]{2}:[0-9]{2}:[0-9]{2}$' || fail "no late CurrentLocalTime"
when="after the run"
unregistered $(printf '%s\n' "$@" | grep -v -e '^TypeLib' -e '^Interface')

[ $failed -eq 0 ] && echo "registration-free activation: passed" || exit 1
