# Primary target: 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TARNWICK_TRIPLE i686-w64-mingw32)
set(TARNWICK_WIDL_ARCH --win32)
set(TARNWICK_WINE_LIBDIR /usr/lib/i386-linux-gnu/wine/i386-windows)
set(TARNWICK_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
