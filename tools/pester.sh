#!/bin/sh
# Fetches the Pester module that the PowerShell tests run under (version
# TARNWICK_PESTER_VERSION, default 5.7.1) from the NuGet feed once, and
# prints the folder that holds its Pester.psd1.
#   tools/pester.sh
# The folder is TARNWICK_PESTER_CACHE (default /var/cache/tarnwick-pester)/
# VERSION/Pester; while it is there, nothing is fetched. Needs dotnet and
# the NuGet feed the first time: the NuGet package holds the module in its
# tools folder.
set -eu
tools=$(cd "$(dirname "$0")" && pwd)
. "$tools/lib.sh"
version=${TARNWICK_PESTER_VERSION:-5.7.1}
cache=${TARNWICK_PESTER_CACHE:-/var/cache/tarnwick-pester}
out=$cache/$version/Pester
marker=.tarnwick-pester
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1

mkdir -p "$cache"
# One fetch at a time: tests that start together wait for the first.
exec 9>"$cache/.lock"
flock 9
if [ ! -f "$out/$marker" ] || [ ! -f "$out/Pester.psd1" ]; then
    command -v dotnet >/dev/null 2>&1 || {
        echo "pester: dotnet not found: install the .NET 10 SDK to fetch Pester" >&2
        exit 1
    }
    started=$(now)
    echo "pester: fetching Pester $version from the NuGet feed" >&2
    work=$cache/work-$version
    rm -rf --one-file-system "$work" "$out.part"
    mkdir -p "$work"
    # A project that only downloads the package, into a folder of its own.
    cat >"$work/fetch.csproj" <<EOF
<Project Sdk="Microsoft.NET.Sdk">
  <PropertyGroup><TargetFramework>net10.0</TargetFramework></PropertyGroup>
  <ItemGroup><PackageDownload Include="Pester" Version="[$version]" /></ItemGroup>
</Project>
EOF
    if ! dotnet restore "$work/fetch.csproj" --packages "$work/packages" >"$work/restore.log" 2>&1; then
        tail -n 20 "$work/restore.log" >&2
        echo "pester: dotnet restore could not fetch Pester $version" >&2
        exit 1
    fi
    tools_dir=$work/packages/pester/$version/tools
    [ -f "$tools_dir/Pester.psd1" ] || {
        echo "pester: the package of Pester $version has no tools/Pester.psd1" >&2
        exit 1
    }
    mkdir -p "$(dirname "$out")"
    cp -R "$tools_dir" "$out.part"
    : >"$out.part/$marker"
    rm -rf --one-file-system "$out"
    mv "$out.part" "$out"
    rm -rf --one-file-system "$work"
    echo "pester: fetched in $(elapsed "$started") s" >&2
fi
echo "$out"
