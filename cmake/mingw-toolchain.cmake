# Shared part of the toolchain files, for the triple that the including file
# sets in TARNWICK_TRIPLE: mingw-w64's compilers for the Win32 thread model,
# or the clang wrappers of the toolchain in TARNWICK_TOOLCHAIN_ROOT where the
# file names one. The Win32 thread model keeps winpthreads out of the
# statically linked runtime. Its libstdc++ has no std::thread, std::mutex or
# std::condition_variable: the library and the tests use none of them, and
# googletest gets a replacement for its one use (tests/third_party).
set(CMAKE_SYSTEM_NAME Windows)
if(DEFINED TARNWICK_TOOLCHAIN_ROOT)
  set(CMAKE_C_COMPILER   ${TARNWICK_TOOLCHAIN_ROOT}/bin/${TARNWICK_TRIPLE}-clang)
  set(CMAKE_CXX_COMPILER ${TARNWICK_TOOLCHAIN_ROOT}/bin/${TARNWICK_TRIPLE}-clang++)
  set(CMAKE_RC_COMPILER  ${TARNWICK_TOOLCHAIN_ROOT}/bin/${TARNWICK_TRIPLE}-windres)
  set(CMAKE_FIND_ROOT_PATH ${TARNWICK_TOOLCHAIN_ROOT}/${TARNWICK_TRIPLE})
else()
  set(CMAKE_C_COMPILER   ${TARNWICK_TRIPLE}-gcc-win32)
  set(CMAKE_CXX_COMPILER ${TARNWICK_TRIPLE}-g++-win32)
  set(CMAKE_RC_COMPILER  ${TARNWICK_TRIPLE}-windres)
  set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_TRIPLE})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
