# Second target: 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TARNWICK_TRIPLE x86_64-w64-mingw32)
set(TARNWICK_WIDL_ARCH --win64)
set(TARNWICK_WINE_LIBDIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(TARNWICK_WINE_LOADER /usr/lib/wine/wine64)
# The 64-bit installer carries the 32-bit library too, for 32-bit hosts.
set(TARNWICK_WINE32_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
