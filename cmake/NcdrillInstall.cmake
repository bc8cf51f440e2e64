# cmake --install lays out:
#   <libdir>/ncdrill/ncdrill.so and VONDRIX_4.txt beside it (the default table)
#   <includedir>/ncdrill/ncdrill.h, and host.hpp, the host helper
#   <bindir>/ncdrill-replay, which finds ../<libdir>/ncdrill/ncdrill.so
#   <libdir>/cmake/ncdrill/: find_package(ncdrill) gives ncdrill::headers and
#     NCDRILL_PLUGIN_FILE, the installed plug-in's absolute path
#   <libdir>/pkgconfig/ncdrill.pc, with the variable plugin=
#   <docdir>/examples/: the example table and programs
# Every path is relative to the prefix, so an installed tree can be moved.
#
# Windows builds install the layout of their zip instead (cpack -G ZIP, see
# the end): ncdrill.dll, VONDRIX_4.txt and ncdrill-replay.exe side by side,
# include/ncdrill/ (ncdrill.h and host.hpp), examples/.
if(WIN32)
  install(TARGETS ncdrill LIBRARY DESTINATION . RUNTIME DESTINATION .)
  install(FILES ${NCDRILL_DEFAULT_TABLE} DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/include/ncdrill/ncdrill.h
                ${PROJECT_SOURCE_DIR}/include/ncdrill/host.hpp
          DESTINATION include/ncdrill)
  if(TARGET ncdrill-replay)
    install(TARGETS ncdrill-replay RUNTIME DESTINATION .)
  endif()
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION examples)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(NCDRILL_WINDOWS_BUILD win32)
  else()
    set(NCDRILL_WINDOWS_BUILD win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME ncdrill)
  set(CPACK_PACKAGE_FILE_NAME ncdrill-${PROJECT_VERSION}-${NCDRILL_WINDOWS_BUILD})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  include(CPack)
  return()
endif()

include(CMakePackageConfigHelpers)

set(NCDRILL_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/ncdrill)
set(NCDRILL_PLUGIN_INSTALL_FILE ${NCDRILL_PLUGIN_INSTALL_DIR}/ncdrill.so)
set(NCDRILL_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ncdrill)
set(NCDRILL_PKGCONFIG_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Hosts call dlopen: the header target brings the loader's library along.
set_target_properties(ncdrill_headers PROPERTIES EXPORT_NAME headers)
target_link_libraries(ncdrill_headers INTERFACE ${CMAKE_DL_LIBS})

install(TARGETS ncdrill LIBRARY DESTINATION ${NCDRILL_PLUGIN_INSTALL_DIR})
install(FILES ${NCDRILL_DEFAULT_TABLE} DESTINATION ${NCDRILL_PLUGIN_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/ncdrill/ncdrill.h
              ${PROJECT_SOURCE_DIR}/include/ncdrill/host.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ncdrill)
install(TARGETS ncdrill_headers EXPORT ncdrillTargets)
if(TARGET ncdrill-replay)
  install(TARGETS ncdrill-replay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

install(EXPORT ncdrillTargets NAMESPACE ncdrill:: DESTINATION ${NCDRILL_CMAKE_INSTALL_DIR})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/ncdrillConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ncdrillConfig.cmake
  INSTALL_DESTINATION ${NCDRILL_CMAKE_INSTALL_DIR}
  PATH_VARS NCDRILL_PLUGIN_INSTALL_FILE NCDRILL_PLUGIN_INSTALL_DIR)
# Not architecture-independent: the plug-in must match the host's word size.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ncdrillConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ncdrillConfig.cmake
              ${PROJECT_BINARY_DIR}/ncdrillConfigVersion.cmake
        DESTINATION ${NCDRILL_CMAKE_INSTALL_DIR})

# pkg-config: the prefix is found from the .pc file's own folder.
file(RELATIVE_PATH NCDRILL_PC_TO_PREFIX
     /prefix/${NCDRILL_PKGCONFIG_INSTALL_DIR} /prefix)
string(REGEX REPLACE "/$" "" NCDRILL_PC_TO_PREFIX "${NCDRILL_PC_TO_PREFIX}")
set(NCDRILL_PC_LIBS "")
foreach(lib IN LISTS CMAKE_DL_LIBS)
  string(APPEND NCDRILL_PC_LIBS " -l${lib}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/ncdrill.pc.in ${PROJECT_BINARY_DIR}/ncdrill.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ncdrill.pc DESTINATION ${NCDRILL_PKGCONFIG_INSTALL_DIR})
