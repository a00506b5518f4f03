#!/bin/sh
# One end-to-end case of Pelmora.exe under Wine. Lays out a folder with the
# program (and a Tarnwick.dll, if the case has one), runs the program through
# the watcher and checks what a person would have seen (the message boxes),
# which exports ran (stand-in libraries log them) and, with the real library,
# the registration left in the registry.
#
#   run-case.sh --exe PELMORA --watcher WATCHER --work DIR [options]
#     --library FILE      copied beside the program as Tarnwick.dll
#     --not-a-library     put a Tarnwick.dll beside the program that is no program file
#     --planted FILE      copied into the current folder as Tarnwick.dll; its
#                         exports must never run
#     --folder NAME       the program's folder under DIR (default: app)
#     --unquoted          the program's name stands unquoted in its command line
#     --args TEXT         the argument text (default: none)
#     --status N          status that a stand-in library's exports return
#     --box TEXT          exactly one message box with this text (default: no box)
#     --calls NAMES       the exports, comma-separated, that the stand-in logged
#                         ("none" for none)
#     --real FILE         the real library, for the two options below; with no
#                         --library its copy lies outside every search location
#     --before STATE      registered|unregistered: set up before the run
#     --after STATE       registered|unregistered: expected after the run
#
# Needs WINEPREFIX (a booted prefix of the tests' own) and TARNWICK_WINE_LOADER.
set -eu
. "$(dirname "$0")/../../tools/lib.sh"
: "${WINEPREFIX:?}" "${TARNWICK_WINE_LOADER:?}"
loader=$TARNWICK_WINE_LOADER

exe= watcher= work= library= garbage= planted= folder=app unquoted= args= status=
box= calls= check_calls= real= before= after=
while [ $# -gt 0 ]; do
    case "$1" in
    --exe) exe=$2; shift ;;
    --watcher) watcher=$2; shift ;;
    --work) work=$2; shift ;;
    --library) library=$2; shift ;;
    --not-a-library) garbage=1 ;;
    --planted) planted=$2; shift ;;
    --folder) folder=$2; shift ;;
    --unquoted) unquoted=--unquoted ;;
    --args) args=$2; shift ;;
    --status) status=$2; shift ;;
    --box) box=$2; shift ;;
    --calls) calls=$2; check_calls=1; shift ;;
    --real) real=$2; shift ;;
    --before) before=$2; shift ;;
    --after) after=$2; shift ;;
    *) echo "run-case.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

failed=0

title="Tarnwick Register Application"
clsid="{35040B65-A446-46DF-9D70-B8AAB430F16E}"

# The work folder is made afresh; one without this case's marker is not
# removed.
fresh_folder "$work" .regtool-case || exit 2
app="$work/$folder"
mkdir -p "$app" "$work/cwd"
cp "$exe" "$app/Pelmora.exe"
[ -z "$library" ] || cp "$library" "$app/Tarnwick.dll"
[ -z "$garbage" ] || echo "not a program file" >"$app/Tarnwick.dll"
[ -z "$planted" ] || cp "$planted" "$work/cwd/Tarnwick.dll"

# The library copy whose registration the case looks at.
state_dll="$app/Tarnwick.dll"
if [ -n "$real" ] && [ -z "$library" ]; then
    mkdir -p "$work/elsewhere"
    cp "$real" "$work/elsewhere/Tarnwick.dll"
    state_dll="$work/elsewhere/Tarnwick.dll"
fi

# reg query: the key's values on success; Wine's reg prints its complaints on
# standard output too, so only its status tells whether the key is there.
query() {
    out=$("$loader" reg query "$@" 2>&1) || return 1
    printf '%s\n' "$out" | tr -d '\r'
}

# Prints registered, unregistered, or what is odd about the entries.
registration() {
    progid=0 server=0
    value=$(query "HKCR\\TarnwickDLL.Registry\\CLSID" /ve) &&
        printf '%s\n' "$value" | grep -qF "$clsid" && progid=1
    path=$(query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve) && server=1
    if [ $progid = 1 ] && [ $server = 1 ]; then
        if printf '%s\n' "$path" | grep -qiF "$(windows_path "$state_dll")"; then
            echo registered
        else
            echo "registered to another file: $path"
        fi
    elif [ $progid = 0 ] && [ $server = 0 ]; then
        echo unregistered
    else
        echo "half registered (ProgID $progid, class $server)"
    fi
}

if [ -n "$before" ]; then
    case "$before" in
    registered) "$loader" regsvr32 /s "$(windows_path "$state_dll")" ;;
    unregistered) "$loader" regsvr32 /s /u "$(windows_path "$state_dll")" || true ;;
    esac
    state=$(registration)
    if [ "$state" != "$before" ]; then
        echo "set-up failed: wanted $before, found $state"
        exit 1
    fi
fi

# The run, bounded twice: by the watcher, which ends a program still running
# after its timeout, and from outside in case Wine itself hangs.
rc=0
TARNWICK_FAKE_STATUS=$status timeout 60 "$loader" "$watcher" --timeout 20000 $unquoted \
    --cwd "$(windows_path "$work/cwd")" "$(windows_path "$app/Pelmora.exe")" "$args" \
    >"$work/watcher.out" || rc=$?
seen=$(tr -d '\r' <"$work/watcher.out")
printf '%s\n' "$seen" | sed 's/^/watcher: /'
[ $rc -eq 0 ] || fail "watcher ended with status $rc"

want=
[ -z "$box" ] || want="box caption=\"$title\" text=\"$box\" icon=exclamation buttons=1:\"OK\" owner=none
"
want="${want}exit 0x0"
[ "$seen" = "$want" ] || fail "expected to see:
$want"

if [ -n "$check_calls" ]; then
    logged=
    [ ! -f "$app/calls.log" ] || logged=$(tr -d '\r' <"$app/calls.log" | paste -sd, -)
    echo "exports run: ${logged:-none}"
    [ "$calls" != none ] || calls=
    [ "$logged" = "$calls" ] || fail "exports run: '$logged', expected '$calls'"
fi

if [ -n "$planted" ] && [ -f "$work/cwd/calls.log" ]; then
    fail "the library planted in the current folder ran: $(tr -d '\r' <"$work/cwd/calls.log" | paste -sd, -)"
fi

if [ -n "$after" ]; then
    state=$(registration)
    echo "registration: ${before:+$before before, }$state after"
    [ "$state" = "$after" ] || fail "afterwards: $state, expected $after"
fi

[ $failed -eq 0 ] || exit 1
echo "ok"
