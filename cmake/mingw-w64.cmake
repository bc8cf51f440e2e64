# What both mingw-w64 toolchain files share; they set NCDRILL_MINGW_TRIPLE
# and CMAKE_SYSTEM_PROCESSOR first. The -posix compilers have std::thread;
# the runtime is linked in statically, so that the DLL and the programs
# import only DLLs that ship with Windows. Programs run under wine through
# cmake/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${NCDRILL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NCDRILL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NCDRILL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${NCDRILL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endforeach()
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
