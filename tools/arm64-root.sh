#!/bin/sh
# The arm64 Debian 13 root whose Wine (10.0) runs the aarch64 target's
# programs: tools/debian-root.sh for arm64, which says how it is made.
#   arm64-root.sh start PROJECT   make the root if it is not there, and mount
#                                 /proc, /dev, /tmp and PROJECT into it
#   arm64-root.sh stop            end the programs running inside, unmount
#   arm64-root.sh run COMMAND...  run COMMAND inside, in the current folder,
#                                 with the current environment
exec "$(dirname "$0")/debian-root.sh" arm64 "$@"
