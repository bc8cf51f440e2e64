# Configures the project with NCDRILL_VECTOR_UNIT set to a value it does not
# know, and expects the configuration to fail saying which values it takes.
# -DSOURCE=<project> -DWORK_DIR=<scratch folder> -DCXX=<compiler>
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK_DIR} -DCMAKE_CXX_COMPILER=${CXX}
          -DNCDRILL_VECTOR_UNIT=sse3 -DNCDRILL_BUILD_TESTS=OFF -DNCDRILL_BUILD_TOOLS=OFF
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
file(REMOVE_RECURSE ${WORK_DIR})
if(result EQUAL 0)
  message(FATAL_ERROR "NCDRILL_VECTOR_UNIT=sse3 was accepted")
endif()
if(NOT output MATCHES "NCDRILL_VECTOR_UNIT is 'sse3'; it must be auto or one of")
  message(FATAL_ERROR "unexpected failure:\n${output}")
endif()
