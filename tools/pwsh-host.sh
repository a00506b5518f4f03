#!/bin/sh
# Publishes the tests' PowerShell (tests/powershell/host: the console shell
# of the PowerShell SDK package, for win-x64, self-contained, with its
# built-in modules beside it) once, and prints the folder that holds its
# pwsh.exe.
#   tools/pwsh-host.sh
# The folder is TARNWICK_PWSH_CACHE (default /var/cache/tarnwick-pwsh)/HASH,
# HASH being that of the files of tests/powershell/host, this script and the
# .NET SDK's version: while they are the same, a run publishes nothing. Making a
# new one removes the ones made before. Needs dotnet and the NuGet feed the
# first time.
set -eu
tools=$(cd "$(dirname "$0")" && pwd)
. "$tools/lib.sh"
source_dir=$tools/../tests/powershell/host
cache=${TARNWICK_PWSH_CACHE:-/var/cache/tarnwick-pwsh}
marker=.tarnwick-pwsh
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1

command -v dotnet >/dev/null 2>&1 || {
    echo "pwsh-host: dotnet not found: install the .NET 10 SDK to build the tests' PowerShell" >&2
    exit 1
}
sdk=$(dotnet --version)
# The host's files, by name and content (names without blanks, no folders).
sources=$(cd "$source_dir" && ls)
hash=$( { for f in $sources; do echo "$f"; cat "$source_dir/$f"; done; cat "$tools/pwsh-host.sh"; echo "$sdk"; } |
    sha256sum | cut -c1-16)
out=$cache/$hash

mkdir -p "$cache"
# One publish at a time: tests that start together wait for the first.
exec 9>"$cache/.lock"
flock 9
if [ ! -f "$out/$marker" ] || [ ! -f "$out/pwsh.exe" ]; then
    started=$(now)
    echo "pwsh-host: publishing the PowerShell host (.NET SDK $sdk) into $out" >&2
    work=$cache/work-$hash
    rm -rf --one-file-system "$work" "$out.part"
    mkdir -p "$work"
    for f in $sources; do cp "$source_dir/$f" "$work/"; done
    log=$cache/publish-$hash.log
    if ! nice dotnet publish "$work/PwshHost.csproj" -c Release -r win-x64 --self-contained \
        -o "$out.part" >"$log" 2>&1; then
        tail -n 30 "$log" >&2
        echo "pwsh-host: dotnet publish failed; its log is $log" >&2
        exit 1
    fi
    [ -f "$out.part/pwsh.exe" ] && [ -f "$out.part/Modules/Microsoft.PowerShell.Utility/Microsoft.PowerShell.Utility.psd1" ] || {
        echo "pwsh-host: the published folder $out.part lacks pwsh.exe or the built-in modules" >&2
        exit 1
    }
    : >"$out.part/$marker"
    # The hosts made before, by other inputs, go.
    for old in "$cache"/*/"$marker"; do
        [ -f "$old" ] || continue
        old=${old%/"$marker"}
        [ "$old" = "$out.part" ] || rm -rf --one-file-system "$old"
    done
    rm -rf --one-file-system "$out" "$work"
    mv "$out.part" "$out"
    rm -f "$log"
    echo "pwsh-host: published in $(elapsed "$started") s, $(du -sh "$out" | cut -f1)" >&2
fi
echo "$out"
