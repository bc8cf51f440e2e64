# Runs ncdrill-replay.exe (under the emulator) on a shipped example and
# compares its output with what the Linux tool prints, apart from the
# definition path line and the run's timing.
# Run as: cmake -DEMULATOR=... -DTOOL=... -DPROGRAM=... -DEXPECTED=... -P check_replay.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${EMULATOR} ${TOOL} ${PROGRAM}
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ncdrill-replay exited with ${status}:\n${errors}")
endif()
file(READ ${EXPECTED} expected)
if(NOT output MATCHES "^definition path: [A-Za-z]:\\\\[^\n]*\\\\VONDRIX_4\\.xml\n")
  message(FATAL_ERROR "no Windows definition path line:\n${output}")
endif()
string(REGEX REPLACE "^definition path: [^\n]*\n" "" output "${output}")
string(REGEX REPLACE "^definition path: [^\n]*\n" "" expected "${expected}")
string(REGEX REPLACE "[0-9.]+ s, [0-9]+ blocks/s" "<seconds> s, <rate> blocks/s" output
       "${output}")
if(NOT output STREQUAL expected)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/replay-output.txt "${output}")
  message(FATAL_ERROR "ncdrill-replay's output differs from ${EXPECTED}; "
                      "it is in ${CMAKE_CURRENT_BINARY_DIR}/replay-output.txt")
endif()
message(STATUS "${PROGRAM}: as on Linux")
