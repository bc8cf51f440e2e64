# Builds for 32-bit Windows (i386, PE32) with mingw-w64 on Linux.
set(NCDRILL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
