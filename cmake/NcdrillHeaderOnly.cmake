# nlohmann-json and CLI11, the header-only libraries of ncdrill-replay, as
# the imported targets nlohmann_json::nlohmann_json and CLI11::CLI11.
#
# A cross build (mingw-w64) takes them from the build machine's packages too,
# but puts only their own folders on the cross compiler's include path: the
# build machine's /usr/include, with its C library, must never be on it.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3 REQUIRED)
  find_package(CLI11 2 REQUIRED)
  return()
endif()

set(NCDRILL_HEADER_ONLY_DIR ${PROJECT_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${NCDRILL_HEADER_ONLY_DIR})
foreach(header nlohmann/json.hpp CLI/CLI.hpp)
  get_filename_component(folder ${header} DIRECTORY)
  string(MAKE_C_IDENTIFIER "NCDRILL_HEADER_${folder}" variable)
  find_path(${variable} ${header} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${variable})
    message(FATAL_ERROR "${header} not found: install nlohmann-json3-dev and libcli11-dev")
  endif()
  file(CREATE_LINK ${${variable}}/${folder} ${NCDRILL_HEADER_ONLY_DIR}/${folder} SYMBOLIC)
endforeach()
foreach(target nlohmann_json::nlohmann_json CLI11::CLI11)
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES ${NCDRILL_HEADER_ONLY_DIR}
      INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${NCDRILL_HEADER_ONLY_DIR})
  endif()
endforeach()
