#!/bin/sh
# Runs the benchmarks for one or both targets and prints one table of
# medians and ratios.
#
#   tools/bench.sh [options] [TARGET | BUILD_DIR]...
#
# TARGET is i686 or x86_64 (built in build-TARGET), or name a build folder
# instead; the default is both targets. For each one the script builds what
# it needs, makes a private Wine prefix in the build folder (bench-prefix),
# registers Tarnwick.dll there, and runs bench.exe, bench.vbs, the cold
# start of a script host and the file sizes; for x86_64 also bench.ps1
# under the tests' PowerShell 7 (tests/powershell/run-pwsh.sh: Wine 10 of
# the amd64 root, a prefix of its own), where dotnet is installed and the
# prefix is not the one of --prefix-from-env.
#
#   --quick            a few hundred calls per side: shows that it all runs
#   --write            also regenerate the results part of docs/benchmarks.md
#   --no-build         use the build folder as it is
#   --prefix-from-env  use $WINEPREFIX as it is, with the library already
#                      registered (the CTest fixture), instead of bench-prefix;
#                      bench.ps1 is left out
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
quick=""
write=""
build_it=1
env_prefix=""
chosen=""
for arg in "$@"; do
    case "$arg" in
    --quick) quick=quick ;;
    --write) write=1 ;;
    --no-build) build_it="" ;;
    --prefix-from-env) env_prefix=1 ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "unknown option $arg" >&2; exit 2 ;;
    *) chosen="$chosen $arg" ;;
    esac
done
[ -n "$chosen" ] || chosen="i686 x86_64"
. "$root/tools/lib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows="$work/rows"
: >"$rows"
: >"$work/runs"

# The target of a configured build folder, from its toolchain file.
target_of() {
    sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=.*toolchain-\(.*\)\.cmake$/\1/p' "$1/CMakeCache.txt" 2>/dev/null
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Runs a Windows program or script and keeps its rows; fails when it did
# not reach its last line.
collect() {
    name=$1
    shift
    out="$work/$name.out"
    "$@" >"$out" 2>&1 || true
    tr -d '\r' <"$out" >"$out.txt"
    if ! grep -qx "$name done" "$out.txt"; then
        echo "$target: $name did not finish:" >&2
        cat "$out.txt" >&2
        exit 1
    fi
    grep '^row|' "$out.txt" | sed "s/^row|/$target|/" >>"$rows"
}

script() {
    file=$1
    shift
    "$loader" cscript //nologo "$(windows_path "$file")" "$@"
}

for choice in $chosen; do
    case "$choice" in
    i686|x86_64) target=$choice; build="$root/build-$choice" ;;
    *) build=$(realpath "$choice"); target=$(target_of "$build") ;;
    esac
    case "$target" in
    i686|x86_64) loader=$(wine_loader "$target") ;;
    *) echo "$choice: not a build folder of i686 or x86_64" >&2; exit 2 ;;
    esac

    if [ -n "$build_it" ]; then
        echo "== $target: build in $build" >&2
        build_target --keep-cache "$target" "$build" "" Tarnwick TarnwickSeam tarnwick_bench >/dev/null
        # The registration tool is only weighed; a build folder may lack it.
        cmake --build "$build" -j "$(nproc)" --target Pelmora >/dev/null 2>&1 || true
    fi
    # How the target ran: figures under emulation are not the product's.
    if emulated "$target"; then
        echo "$target|under emulation (qemu-user): its times are not the product's" >>"$work/runs"
    else
        echo "$target|natively" >>"$work/runs"
    fi
    # The compiler this build was configured with, for the report.
    cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1)
    model=$("$cxx" -v 2>&1 | sed -n 's/^Thread model: //p')
    echo "$target|$(basename "$cxx") $("$cxx" -dumpversion 2>/dev/null || echo unknown) (mingw-w64, thread model ${model:-unknown})" >>"$work/compilers"
    dll="$build/library/Tarnwick.dll"
    # The test build of the library, whose registry calls bench.exe stands in for.
    export TARNWICK_SEAM_DLL="$build/library/TarnwickSeam.dll"
    exe="$build/regtool/Pelmora.exe"

    if [ -n "$env_prefix" ]; then
        : "${WINEPREFIX:?--prefix-from-env needs WINEPREFIX}"
    else
        export WINEPREFIX="$build/bench-prefix"
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            echo "== $target: creating a private Wine prefix in $WINEPREFIX" >&2
            "$root/tools/wine-prefix.sh" create "$WINEPREFIX"
        fi
        # One server for the whole run, so that cold starts do not pay for it.
        "$wineserver" -p </dev/null >/dev/null 2>&1 || true  # may run already
        "$loader" regsvr32 /s "$(windows_path "$dll")" </dev/null >/dev/null 2>&1
        # As on Windows, .htm has a program (Wine's browser), so that
        # GetDefaultBrowserPath finds one, as GetUserDefaultBrowserPath does
        # through the user's choice for http links: a fresh prefix has none.
        "$wine64" reg add 'HKLM\Software\Classes\.htm' /ve /d htmlfile /f </dev/null >/dev/null 2>&1
    fi

    echo "== $target: bench.exe" >&2
    collect bench.exe "$loader" "$build/tests/bench/bench.exe" $quick
    echo "== $target: bench.vbs" >&2
    collect bench.vbs script "$root/tests/bench/bench.vbs" $quick
    "$loader" reg delete 'HKCU\Software\Tarnwick\Bench' /f >/dev/null 2>&1 || true
    if [ "$target" = x86_64 ] && [ -z "$env_prefix" ] && command -v dotnet >/dev/null 2>&1; then
        echo "== $target: bench.ps1 (PowerShell 7 under Wine 10)" >&2
        collect bench.ps1 "$root/tests/powershell/run-pwsh.sh" "$build" "$root/tests/bench/bench.ps1" $quick
        "$root/tests/powershell/run-pwsh.sh" "$build" --stop >/dev/null 2>&1 || true
        echo "$target (bench.ps1)|under the Wine 10 of the Debian 13 amd64 root, PowerShell 7.6.10 on .NET 10" >>"$work/runs"
    fi

    # Cold start: a fresh script host running one call, against one that
    # runs an empty script; both alternate, medians of the wall times.
    echo "== $target: cold script host" >&2
    if [ -n "$quick" ]; then runs=3; else runs=15; fi
    script "$root/tests/bench/cold-empty.vbs" >/dev/null 2>&1 || true
    : >"$work/cold-call" ; : >"$work/cold-empty"
    i=0
    while [ $i -lt $runs ]; do
        for which in call empty; do
            [ $((i % 2)) -eq 1 ] && which=$([ $which = call ] && echo empty || echo call)
            t0=$(now_ms)
            out=$(script "$root/tests/bench/cold-$which.vbs" 2>&1 | tr -d '\r' || true)
            t1=$(now_ms)
            if [ $which = call ] && ! printf '%s\n' "$out" | grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}$'; then
                echo "$target: the cold-start script did not print the time: $out" >&2
                exit 1
            fi
            echo $((t1 - t0)) >>"$work/cold-$which"
        done
        i=$((i + 1))
    done
    call_ms=$(median <"$work/cold-call")
    empty_ms=$(median <"$work/cold-empty")
    ratio=$(awk -v a="$call_ms" -v b="$empty_ms" 'BEGIN { printf "%.2f", a / b }')
    echo "$target|activation|cold cscript to first call (CurrentGMTTime) vs empty script|$call_ms|$empty_ms|ms|$ratio|" >>"$rows"

    # File sizes; the limits hold for the 32-bit build.
    for file in "$dll:180224" "$exe:131072"; do
        path=${file%:*}
        limit=${file##*:}
        name=$(basename "$path")
        [ "$target" = i686 ] || limit=""
        if [ -f "$path" ]; then
            size=$(stat -c %s "$path")
            if [ -n "$limit" ]; then
                ratio=$(awk -v a="$size" -v b="$limit" 'BEGIN { printf "%.2f", a / b }')
                echo "$target|size|$name vs limit|$size|$limit|bytes|$ratio|<=1.00" >>"$rows"
            else
                echo "$target|size|$name|$size||bytes||" >>"$rows"
            fi
        else
            echo "$target|size|$name|n/a|${limit}|bytes||" >>"$rows"
        fi
    done

    [ -n "$env_prefix" ] || "$wineserver" -k 2>/dev/null || true
done

# One table of every row; a goal "<=x" is met when the ratio is at most x.
# Quick runs are too short to judge anything.
table() {
    echo "| Target | Section | Measure | Ours | Reference | Unit | Ratio | Goal | Met |"
    echo "|---|---|---|--:|--:|---|--:|---|---|"
    awk -F'|' -v quick="$quick" '{
        met = ""
        if ($8 ~ /^<=/ && $7 != "" && quick == "") met = ($7 + 0 <= substr($8, 3) + 0) ? "yes" : "no"
        goal = $8; sub(/^<=/, "≤ ", goal)
        printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $6, $7, goal, met
    }' "$rows"
}
table
sed 's/^\([^|]*\)|\(.*\)$/\1 ran \2/' "$work/runs"

if [ -n "$write" ]; then
    if grep -q emulation "$work/runs"; then
        echo "not writing $root/docs/benchmarks.md: its ratios come from native runs only" >&2
        exit 1
    fi
    doc="$root/docs/benchmarks.md"
    command="tools/bench.sh $*"
    cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
    {
        echo "<!-- Generated by tools/bench.sh --write; edit the text outside these markers. -->"
        echo
        echo "Run of $(date -u '+%Y-%m-%d %H:%M UTC'), command \`$command\`."
        echo
        echo "- Sources: commit $(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)"
        echo "- Machine: $(nproc) cores, ${cpu:-unknown CPU}, $(uname -sr)"
        echo "- Wine: $("$loader" --version 2>/dev/null || echo unknown)"
        sed 's/^\([^|]*\)|\(.*\)$/- Compiler for \1: \2/' "$work/compilers"
        sed 's/^\([^|]*\)|\(.*\)$/- \1 ran \2/' "$work/runs"
        [ -z "$quick" ] || echo "- Quick mode: a few hundred calls per side; the figures mean nothing."
        echo
        table
    } >"$work/generated"
    mkdir -p "$(dirname "$doc")"
    if [ -f "$doc" ] && grep -q '^<!-- bench:begin -->$' "$doc"; then
        awk -v gen="$work/generated" '
            /^<!-- bench:begin -->$/ { print; while ((getline line < gen) > 0) print line; skip = 1; next }
            /^<!-- bench:end -->$/ { skip = 0 }
            !skip' "$doc" >"$work/doc"
    else
        { echo "# Benchmarks"; echo; echo "<!-- bench:begin -->"; cat "$work/generated"; echo "<!-- bench:end -->"; } >"$work/doc"
    fi
    cp "$work/doc" "$doc"
    echo "wrote $doc" >&2
fi
