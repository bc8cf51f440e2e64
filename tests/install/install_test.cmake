# Installs the build into a temporary prefix, moves the prefix, then builds
# and runs a host against the moved package (CMake config and pkg-config)
# and runs the installed ncdrill-replay.
#
#   cmake -DBUILD_DIR=... -DCONSUMER=... -DWORK_DIR=... -DCXX=... -DGENERATOR=...
#         [-DSANITIZERS=address,undefined] -P install_test.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "failed (${failed}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(stage ${WORK_DIR}/stage)
set(prefix ${WORK_DIR}/moved)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage})
file(RENAME ${stage} ${prefix})

set(flags "")
if(SANITIZERS)
  set(flags "-fsanitize=${SANITIZERS}")
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_CXX_FLAGS=${flags} -DCMAKE_EXE_LINKER_FLAGS=${flags})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/host)

# pkg-config's plugin= names the same file.
file(GLOB pc_files ${prefix}/*/pkgconfig/ncdrill.pc ${prefix}/*/*/pkgconfig/ncdrill.pc)
list(LENGTH pc_files found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "expected one installed ncdrill.pc, found: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${PKG_CONFIG} --variable=plugin ncdrill)
  string(STRIP "${out}" plugin)
  if(NOT EXISTS "${plugin}" OR NOT IS_ABSOLUTE "${plugin}")
    message(FATAL_ERROR "pkg-config's plugin= is not the installed plug-in: '${plugin}'")
  endif()
else()
  message(STATUS "no pkg-config: ncdrill.pc not checked with it")
endif()

# The installed tool finds the installed plug-in and its table.
if(EXISTS ${prefix}/bin/ncdrill-replay)
  run(${prefix}/bin/ncdrill-replay --quiet ${prefix}/share/doc/ncdrill/examples/plate_metric.nc)
  if(NOT out MATCHES "^summary: 51 blocks, 7 returned true, 8 requests accepted, 5 drill blocks")
    message(FATAL_ERROR "installed ncdrill-replay: ${out}")
  endif()
endif()
message(STATUS "installed package works from a moved prefix")
