# The compile and link options of every target. CMakeLists.txt uses these
# lists, and tools/toolchain-arm64.sh builds its smoke test with them, so
# the aarch64 toolchain is proven with what the build passes. Each list
# stays on one line of its own: the script reads them as text.
set(TARNWICK_COMPILE_OPTIONS -Wall -Wextra -Werror -ffunction-sections -fdata-sections)
# No time stamps, no build ids, no unused sections, the runtime linked in.
set(TARNWICK_LINK_OPTIONS -static -Wl,--no-insert-timestamp -Wl,--gc-sections -Wl,--build-id=none)
# With gcc the runtime is libgcc and libstdc++, which -static alone leaves
# to the driver; clang's compiler-rt and libc++ need nothing more.
set(TARNWICK_GNU_LINK_OPTIONS -static-libgcc -static-libstdc++)
# Every build type but Debug is stripped.
set(TARNWICK_RELEASE_LINK_OPTIONS -s)
