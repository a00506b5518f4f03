#!/bin/sh
# The PowerShell module as the MSI installs it: in a fresh prefix of the
# amd64 root's Wine 10, `Import-Module Tarnwick` finds nothing; after
# `msiexec /i MSI /qn` and nothing else, msi-module.ps1 imports the module
# by its name from Program Files\WindowsPowerShell\Modules\Tarnwick and
# calls Get-TarnwickSystemInfo through the library the package registered;
# `msiexec /x MSI /qn` takes the module away again.
#   msi-module.sh BUILD MSI VERSION
# A Wine prefix has no Windows PowerShell, and so none of the module path
# that every Windows since 7 sets machine-wide for it (PSModulePath,
# "%ProgramFiles%\WindowsPowerShell\Modules;%SystemRoot%\system32\
# WindowsPowerShell\v1.0\Modules"), which PowerShell 7 takes up: the fresh
# prefix gets that value first, as Windows has it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
[ $# -eq 3 ] || { echo "usage: $0 BUILD MSI VERSION" >&2; exit 2; }
build=$(realpath "$1")
msi=$(realpath "$2")
version=$3
export TARNWICK_WINE_BIN="$project/tools/amd64"
. "$project/tools/lib.sh"
export WINEPREFIX="$build/prefixes/powershell-msi"
[ -f "$msi" ] || { echo "msi-module: no package $msi (build the target msi)" >&2; exit 2; }
pwsh=$("$project/tools/pwsh-host.sh")
"$project/tools/debian-root.sh" amd64 start "$project" "$build" "$(dirname "$pwsh")" "$(dirname "$msi")"
"$project/tools/wine-prefix.sh" create "$WINEPREFIX"
trap '"$project/tools/wine-prefix.sh" destroy "$WINEPREFIX"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }

"$wine64" reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PSModulePath \
    /t REG_EXPAND_SZ /d '%ProgramFiles%\WindowsPowerShell\Modules;%SystemRoot%\system32\WindowsPowerShell\v1.0\Modules' \
    /f >/dev/null
cd "$build"
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mshtml=;amsi=d" NO_COLOR=1 POWERSHELL_TELEMETRY_OPTOUT=1 POWERSHELL_UPDATECHECK=Off
shell() { "$wine64" "$pwsh/pwsh.exe" -NoProfile -NonInteractive "$@" </dev/null 2>&1 | tr -d '\r'; }

echo "== before the package: no module of that name"
said=$(shell -Command 'if (Get-Module -ListAvailable Tarnwick) { "found" } else { "none" }')
[ "$said" = none ] || fail "a module Tarnwick is there before the package is installed: $said"

echo "== msiexec /i $(basename "$msi") /qn"
"$wine64" msiexec /i "$(windows_path "$msi")" /qn || fail "msiexec /i failed ($?)"
out=$(shell -File "$(windows_path "$here/msi-module.ps1")" "$version") || fail "msi-module.ps1 failed"
printf '%s\n' "$out"
[ "$(printf '%s\n' "$out" | tail -n 1)" = done ] || fail "msi-module.ps1 stopped before its last line"

echo "== msiexec /x $(basename "$msi") /qn"
"$wine64" msiexec /x "$(windows_path "$msi")" /qn || fail "msiexec /x failed ($?)"
[ ! -e "$WINEPREFIX/drive_c/Program Files/WindowsPowerShell/Modules/Tarnwick" ] ||
    fail "the module's folder is left after msiexec /x"
[ "$failed" -eq 0 ] && echo "msi-module: passed"
exit "$failed"
