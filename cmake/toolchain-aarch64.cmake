# Third target: Windows on ARM64, with the clang toolchain and runtime that
# tools/toolchain-arm64.sh builds into its cache folder.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(TARNWICK_TRIPLE aarch64-w64-mingw32)
if(DEFINED ENV{TARNWICK_ARM64_PREFIX})
  set(TARNWICK_TOOLCHAIN_ROOT $ENV{TARNWICK_ARM64_PREFIX})
else()
  set(TARNWICK_TOOLCHAIN_ROOT /var/cache/tarnwick-arm64)
endif()
# The 64-bit type library, from the same files as the x86_64 target's.
set(TARNWICK_WIDL_ARCH --win64)
set(TARNWICK_WINE_LIBDIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
# Its programs run under the Wine of the emulated arm64 root (tools/arm64-root.sh).
set(TARNWICK_WINE_BIN ${CMAKE_CURRENT_LIST_DIR}/../tools/arm64)
set(TARNWICK_WINE_LOADER ${TARNWICK_WINE_BIN}/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
