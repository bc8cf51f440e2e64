# Fails if ncdrill-replay could make an interpreter without the plug-in it
# loads: it must hold neither the plug-in's entry nor its interpreter class.
# (It does link the core's block explainer, for --explain and --lint; that
# the drill blocks it reports come from the loaded plug-in is proven by the
# replay tests with a plug-in built to differ.)
# Run as: cmake -DNM=... -DTOOL=... -P check_replay_entry.cmake
execute_process(COMMAND ${NM} -C ${TOOL} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "nm failed on ${TOOL}")
endif()
string(REGEX MATCHALL "[^\n]*( GetInterpreter|DrillInterpreter|FindModuleFolder)[^\n]*"
       linked "${symbols}")
if(linked)
  list(JOIN linked "\n" linked)
  message(FATAL_ERROR "ncdrill-replay holds the plug-in's entry or interpreter:\n${linked}")
endif()
message(STATUS "ncdrill-replay makes interpreters only through the plug-in it loads")
