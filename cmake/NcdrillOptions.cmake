# Compiler settings every target of the project shares.
add_library(ncdrill_options INTERFACE)
target_compile_options(ncdrill_options INTERFACE -Wall -Wextra -Wpedantic)
if(NCDRILL_WERROR)
  target_compile_options(ncdrill_options INTERFACE -Werror)
endif()
if(NCDRILL_SANITIZERS)
  target_compile_options(ncdrill_options INTERFACE
    -fsanitize=${NCDRILL_SANITIZERS} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(ncdrill_options INTERFACE -fsanitize=${NCDRILL_SANITIZERS})
endif()

# The highest vector unit the plug-in's block scan may pick at load, in
# ascending order. `auto` lets it pick the best the processor has; a lower
# value builds the plug-in as a processor without the higher units runs it.
set(NCDRILL_VECTOR_UNITS portable sse2 avx2 avx512 avx512vbmi)
set(NCDRILL_VECTOR_UNIT auto CACHE STRING
    "Highest vector unit the block scan may use: auto, avx512vbmi, avx512, avx2, sse2 or portable")
set_property(CACHE NCDRILL_VECTOR_UNIT PROPERTY STRINGS auto ${NCDRILL_VECTOR_UNITS})
if(NOT NCDRILL_VECTOR_UNIT STREQUAL "auto" AND NOT NCDRILL_VECTOR_UNIT IN_LIST NCDRILL_VECTOR_UNITS)
  message(FATAL_ERROR "NCDRILL_VECTOR_UNIT is '${NCDRILL_VECTOR_UNIT}'; it must be auto or one of: "
                      "${NCDRILL_VECTOR_UNITS}")
endif()

# The number the code knows a unit by: its place in NCDRILL_VECTOR_UNITS
# (auto: the last).
function(ncdrill_vector_unit_number unit out)
  if(unit STREQUAL "auto")
    list(LENGTH NCDRILL_VECTOR_UNITS count)
    math(EXPR number "${count} - 1")
  else()
    list(FIND NCDRILL_VECTOR_UNITS ${unit} number)
  endif()
  set(${out} ${number} PARENT_SCOPE)
endfunction()
