# Fails if ncdrill-replay holds any of the plug-in's interpretation code: the
# tool must reach it only through dlopen, as a host does.
# Run as: cmake -DNM=... -DTOOL=... -P check_replay_links.cmake
execute_process(COMMAND ${NM} -C ${TOOL} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "nm failed on ${TOOL}")
endif()
string(REGEX MATCHALL "[^\n]*(GetInterpreter|DrillInterpreter|ScanBlock|FindTrigger|DeliverDrillBlock|SelectionStore)[^\n]*"
       linked "${symbols}")
if(linked)
  list(JOIN linked "\n" linked)
  message(FATAL_ERROR "ncdrill-replay links interpretation code:\n${linked}")
endif()
message(STATUS "ncdrill-replay reaches the plug-in through dlopen only")
