#!/bin/sh
# Builds the library and the registration tool, registers the library in a
# private Wine prefix with Pelmora.exe, and runs the sample script against
# every class, then the administrator's sample of release 1.12. Pass x86_64
# to run the 64-bit build instead; it also runs the administrator's sample
# for PowerShell (examples/powershell/admin.ps1) under the tests' PowerShell
# 7, where dotnet (the .NET 10 SDK, which builds that shell) is installed.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-i686}
"$root/tools/setup.sh"
. "$root/tools/lib.sh"
if [ "$target" = i686 ] && ! can_run_32_bit; then
    echo "== this machine cannot start 32-bit programs and emulation was declined (TARNWICK_NO_EMULATION=1): running the x86_64 build"
    target=x86_64
fi
build="$root/build-$target"
build_target "$target" "$build" "" Tarnwick Pelmora
loader=$(wine_loader "$target")
prefix="$build/demo-prefix"
echo "== creating a private Wine prefix in $prefix"
"$root/tools/wine-prefix.sh" create "$prefix"
export WINEPREFIX="$prefix"
install="$prefix/drive_c/Tarnwick"
mkdir -p "$install"
cp "$build/library/Tarnwick.dll" "$build/regtool/Pelmora.exe" "$root/examples/demo.vbs" \
    "$root/examples/admin.vbs" "$install/"
echo "== registering: C:\\Tarnwick\\Pelmora.exe"
"$loader" 'C:\Tarnwick\Pelmora.exe'
# A default browser for the prefix, which has none of its own.
"$loader" reg add 'HKLM\Software\Classes\.htm' /ve /d TarnwickDemo.htm /f >/dev/null
"$loader" reg add 'HKLM\Software\Classes\TarnwickDemo.htm\shell\open\command' /ve \
    /d '"C:\Program Files\Demo Browser\browser.exe" -url "%1"' /f >/dev/null
# An installed program for the prefix, which lists none of its own.
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TarnwickDemo'
"$loader" reg add "$uninstall" /v DisplayName /d 'Tarnwick Demo Browser' /f >/dev/null
"$loader" reg add "$uninstall" /v DisplayVersion /d 1.12 /f >/dev/null
"$loader" reg add "$uninstall" /v UninstallString \
    /d '"C:\Program Files\Demo Browser\uninstall.exe"' /f >/dev/null
# The script host exits 0 even when a script dies: each sample's closing
# line says it ran to its end.
for script in demo.vbs admin.vbs; do
    printf '== running: cscript C:\\Tarnwick\\%s\n' "$script"
    out=$("$loader" cscript //nologo "C:\\Tarnwick\\$script" 2>&1 | tr -d '\r')
    printf '%s\n' "$out"
    if [ "$(printf '%s\n' "$out" | tail -n 1)" != Done. ]; then
        echo "$script stopped before its end" >&2
        exit 1
    fi
done
# PowerShell 7 runs under Wine 10, in the Debian 13 amd64 root, with the
# library registered in a prefix of its own (tests/powershell/run-pwsh.sh;
# the first run makes the root and the shell, some minutes each).
if [ "$target" = x86_64 ] && command -v dotnet >/dev/null 2>&1; then
    echo "== running: pwsh -File admin.ps1 (PowerShell 7 under Wine 10, in a prefix of its own: tests/powershell/run-pwsh.sh)"
    "$root/tests/powershell/run-pwsh.sh" "$build" --last-line Done. "$root/examples/powershell/admin.ps1"
    "$root/tests/powershell/run-pwsh.sh" "$build" --stop >/dev/null
else
    echo "== admin.ps1 not run: PowerShell needs the x86_64 build and dotnet (the .NET 10 SDK): tools/demo.sh x86_64"
fi
echo "== unregistering: C:\\Tarnwick\\Pelmora.exe -U"
"$loader" 'C:\Tarnwick\Pelmora.exe' -U
if "$loader" reg query 'HKCR\TarnwickDLL.Registry' >/dev/null 2>&1; then
    echo "still registered" >&2
    exit 1
fi
echo "TarnwickDLL.Registry is no longer registered"
"$wineserver" -k 2>/dev/null || true
