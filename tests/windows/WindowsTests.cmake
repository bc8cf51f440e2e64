# The tests of the Windows builds, run under wine (cmake/wine-run, the
# toolchain's emulator). Every start of a 32-bit wine process costs tens of
# seconds on these machines (32-bit wine runs under qemu), so the tests are a
# few processes: one GoogleTest program with every test of the plug-in, a
# host built for the Microsoft C++ ABI, and the built file's PE directories.

# A test copy of the DLL that sends its allocations to the test program's
# counting operator new (alloc_hooks.cpp), as the Linux plug-in's go there
# by themselves.
ncdrill_add_plugin(ncdrill_counted ${CMAKE_CURRENT_SOURCE_DIR}/windows/forward_allocations.cpp)
set_target_properties(ncdrill_counted PROPERTIES
  OUTPUT_NAME ncdrill LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/counted)

find_package(Threads REQUIRED)
add_executable(ncdrill_tests
  lifecycle_test.cpp drill_trigger_test.cpp table_reader_test.cpp block_scanner_test.cpp
  differential_test.cpp allocation_test.cpp allocation_failure_test.cpp size_test.cpp
  alloc_hooks.cpp host_helper_test.cpp)
target_link_libraries(ncdrill_tests PRIVATE
  ncdrill_test_host ncdrill_core ncdrill_unit_plugins GTest::gtest_main Threads::Threads)
target_include_directories(ncdrill_tests PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
target_compile_definitions(ncdrill_tests PRIVATE
  NCDRILL_COUNTED_PLUGIN_FILE="$<TARGET_FILE:ncdrill_counted>" ${NCDRILL_FAKE_PLUGIN_DEFINITIONS})
add_dependencies(ncdrill_tests ncdrill_counted ${NCDRILL_FAKE_PLUGINS})

set(NCDRILL_WIN32 OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(NCDRILL_WIN32 ON)
endif()

# One process for all of them. Threads are not reliable in 32-bit wine under
# qemu, so the win32 run leaves the tests that start threads to win64.
set(gtest_filter "")
if(NCDRILL_WIN32)
  set(gtest_filter "--gtest_filter=-GetInterpreter.CreatesFromManyThreadsAtOnce")
endif()
add_test(NAME plugin_tests COMMAND ncdrill_tests ${gtest_filter})
# The soak host (time and memory over many blocks) where a process is cheap.
if(NOT NCDRILL_WIN32)
  add_test(NAME soak_200000_blocks COMMAND ncdrill_soak 200000)
  set_tests_properties(soak_200000_blocks PROPERTIES FIXTURES_REQUIRED wine)
endif()

# The host built as the Microsoft C++ compiler builds hosts: clang for the
# Microsoft ABI with the project's header (and libstdc++'s folders for the
# <cstdint> and <cstddef> it includes), no C++ runtime, linked by lld-link
# against the system's kernel32 and msvcrt only.
find_program(NCDRILL_CLANGXX clang++ REQUIRED)
find_program(NCDRILL_LLD_LINK lld-link REQUIRED)
find_library(NCDRILL_KERNEL32 kernel32 REQUIRED)
find_library(NCDRILL_MSVCRT msvcrt REQUIRED)
set(msvc_target x86_64-pc-windows-msvc)
set(msvc_link_options "")
if(NCDRILL_WIN32)
  set(msvc_target i686-pc-windows-msvc)
  set(msvc_link_options /safeseh:no)  # no SEH tables without the runtime
endif()
set(msvc_flags --target=${msvc_target} -std=c++17 -O2 -ffreestanding -fno-exceptions -fno-rtti
               -Wall -Wextra -Wpedantic
               # libstdc++'s configuration insists on its strict-ISO marker,
               # which -std=c++17 sets outside the Microsoft mode.
               -D__STRICT_ANSI__)
if(NCDRILL_WERROR)
  list(APPEND msvc_flags -Werror)
endif()
foreach(dir IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  if(dir MATCHES "/c\\+\\+(/[^/]+)?$" AND NOT dir MATCHES "backward$")
    list(APPEND msvc_flags -isystem ${dir})
  endif()
endforeach()
set(msvc_source ${CMAKE_CURRENT_SOURCE_DIR}/windows/msvc_host.cpp)
set(msvc_object ${CMAKE_CURRENT_BINARY_DIR}/msvc_host.obj)
set(msvc_host ${CMAKE_CURRENT_BINARY_DIR}/ncdrill_msvc_host.exe)
add_custom_command(
  OUTPUT ${msvc_host}
  COMMAND ${NCDRILL_CLANGXX} ${msvc_flags} -I${PROJECT_SOURCE_DIR}/include
          -c ${msvc_source} -o ${msvc_object}
  COMMAND ${NCDRILL_LLD_LINK} /nologo /nodefaultlib /entry:HostMain /subsystem:console
          ${msvc_link_options} ${msvc_object} ${NCDRILL_KERNEL32} ${NCDRILL_MSVCRT}
          /out:${msvc_host}
  DEPENDS ${msvc_source} ${CMAKE_CURRENT_SOURCE_DIR}/windows/win32.h
          ${PROJECT_SOURCE_DIR}/include/ncdrill/ncdrill.h
  COMMENT "Building the Microsoft-ABI host ncdrill_msvc_host.exe (${msvc_target})"
  VERBATIM)
add_custom_target(ncdrill_msvc_host ALL DEPENDS ${msvc_host})
add_test(NAME msvc_abi_host COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${msvc_host}
                                    $<TARGET_FILE:ncdrill>)

# ncdrill-replay.exe on the shipped examples prints what the Linux tool
# prints (win32: one example, as each 32-bit process costs its start).
if(TARGET ncdrill-replay)
  set(examples plate_metric flange_inch)
  if(NCDRILL_WIN32)
    set(examples plate_metric)
  endif()
  foreach(example IN LISTS examples)
    add_test(NAME replay_${example}_as_on_linux
             COMMAND ${CMAKE_COMMAND} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
                     -DTOOL=$<TARGET_FILE:ncdrill-replay>
                     -DPROGRAM=${PROJECT_SOURCE_DIR}/examples/${example}.nc
                     -DEXPECTED=${CMAKE_CURRENT_SOURCE_DIR}/replay/expected/${example}.txt
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_replay.cmake)
    set_tests_properties(replay_${example}_as_on_linux PROPERTIES
                         FIXTURES_REQUIRED wine TIMEOUT 600)
  endforeach()
endif()

# The built file itself, without wine.
add_test(NAME dll_exports_GetInterpreter_and_imports_system_dlls
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DPLUGIN=$<TARGET_FILE:ncdrill>
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_pe.cmake)

set_tests_properties(plugin_tests msvc_abi_host PROPERTIES TIMEOUT 2400 FIXTURES_REQUIRED wine)
# The wine server outlives the programs by a few seconds; the run ends when
# it has gone, so that nothing of wine is left behind.
add_test(NAME wine_server_stopped COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --stop)
set_tests_properties(wine_server_stopped PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120)
