# Builds for 64-bit Windows (x86-64, PE32+) with mingw-w64 on Linux.
set(NCDRILL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
