# Cross-compiling for Windows with Debian's MinGW-w64 toolchains. Included by
# the two toolchain files, which set R310_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${R310_MINGW_PROCESSOR})

# The POSIX thread model's compilers: their C++ library has std::mutex and
# std::thread, which GoogleTest needs for the test programs. The thread
# library is linked in statically like the other runtimes.
set(CMAKE_C_COMPILER ${R310_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${R310_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${R310_MINGW_TRIPLE}-windres)

# Headers and libraries come from the MinGW sysroot only, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${R310_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
