# 64-bit Windows (PE32+, x86-64): one calling convention, no decorations.
set(R310_MINGW_TRIPLE x86_64-w64-mingw32)
set(R310_MINGW_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
