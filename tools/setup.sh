#!/bin/sh
# Installs what the build, the tests and the demo need on a Debian machine.
# Runs as root; does nothing when everything is there already.
set -eu
need=""
command -v i686-w64-mingw32-g++-posix >/dev/null || need="$need g++-mingw-w64-i686-posix"
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need="$need g++-mingw-w64-x86-64-posix"
command -v widl >/dev/null || need="$need mingw-w64-tools"
[ -d /usr/include/wine/wine/windows ] || need="$need libwine-dev"
[ -x /usr/lib/wine/wine64 ] || need="$need wine wine64"
[ -x /usr/lib/wine/wine ] || need="$need wine32:i386"
[ -f /usr/src/googletest/CMakeLists.txt ] || need="$need googletest"
command -v cmake >/dev/null || need="$need cmake"
command -v python3 >/dev/null || need="$need python3"
command -v wixl >/dev/null || need="$need wixl msitools"
if [ -n "$need" ]; then
    echo "installing:$need"
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        mingw-w64 $need >/dev/null
fi
