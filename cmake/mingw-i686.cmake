# 32-bit Windows (PE32, i386): the stdcall routines with decorated names in
# their objects, exported undecorated.
set(R310_MINGW_TRIPLE i686-w64-mingw32)
set(R310_MINGW_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
