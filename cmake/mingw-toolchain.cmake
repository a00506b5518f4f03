# Shared part of the two toolchain files: mingw-w64's posix-thread compilers
# for the triple that the including file sets in TARNWICK_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${TARNWICK_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNWICK_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${TARNWICK_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
