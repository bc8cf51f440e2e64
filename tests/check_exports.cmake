# Fails unless the plug-in's dynamic symbol table defines exactly one symbol,
# GetInterpreter. Run as: cmake -DNM=... -DPLUGIN=... -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${PLUGIN}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "nm failed on ${PLUGIN}")
endif()
string(REGEX REPLACE "[^\n]* [A-Za-z] " "" names "${symbols}")
string(STRIP "${names}" names)
if(NOT names STREQUAL "GetInterpreter")
  message(FATAL_ERROR "ncdrill.so exports:\n${symbols}")
endif()
message(STATUS "ncdrill.so exports GetInterpreter only")
