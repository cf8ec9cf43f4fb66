# Installs the geometry core as a CMake package:
#   find_package(quorvalind CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE quorvalind::core)
#   #include "quorvalind/quorvalind.h"   (or values.h, builders.h, booleans.h, writers.h)
# The public headers are the umbrella headers in include/quorvalind. Of the
# core's own headers only those they reach through #include "..." are
# installed, in their folder layout under include/quorvalind; every other
# header under src/ is private by default, so a new internal header never
# ships unless a public one starts including it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUORVALIND_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/quorvalind")

set_property(TARGET quorvalind_core PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include;${PROJECT_SOURCE_DIR}/src>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR};${CMAKE_INSTALL_INCLUDEDIR}/quorvalind>")
set_target_properties(quorvalind_core PROPERTIES EXPORT_NAME core)
# Inline arithmetic in the headers must round as the library does.
target_compile_options(quorvalind_core INTERFACE -ffp-contract=off)
target_compile_features(quorvalind_core PUBLIC cxx_std_20)

install(TARGETS quorvalind_core EXPORT quorvalindTargets COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The include closure of the public headers: every src/ header reached by a
# quoted #include, whatever preprocessor condition it sits under.
file(GLOB quorvalind_public_headers ${PROJECT_SOURCE_DIR}/include/quorvalind/*.h)
set(queue ${quorvalind_public_headers})
set(seen "")
set(core_headers "")
while(queue)
  list(POP_FRONT queue header)
  if(header IN_LIST seen)
    continue()
  endif()
  list(APPEND seen ${header})
  # A change of includes must recompute the list.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  file(STRINGS ${header} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" name "${line}")
    if(EXISTS ${PROJECT_SOURCE_DIR}/include/${name})
      list(APPEND queue ${PROJECT_SOURCE_DIR}/include/${name})
    elseif(EXISTS ${PROJECT_SOURCE_DIR}/src/${name})
      list(APPEND queue ${PROJECT_SOURCE_DIR}/src/${name})
      list(APPEND core_headers ${name})
    else()
      message(FATAL_ERROR "${header} includes \"${name}\", found neither in include/ nor in src/")
    endif()
  endforeach()
endwhile()
list(REMOVE_DUPLICATES core_headers)
list(SORT core_headers)
if(core_headers MATCHES "(^|;)lib/")
  message(FATAL_ERROR "a public header reaches the binding layer: ${core_headers}")
endif()
install(FILES ${quorvalind_public_headers}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvalind COMPONENT dev)
foreach(name IN LISTS core_headers)
  get_filename_component(dir ${name} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/src/${name}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvalind/${dir} COMPONENT dev)
endforeach()
install(EXPORT quorvalindTargets NAMESPACE quorvalind:: FILE quorvalindTargets.cmake
  DESTINATION ${QUORVALIND_CMAKE_DIR} COMPONENT dev)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quorvalindConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorvalindConfig.cmake INSTALL_DESTINATION ${QUORVALIND_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorvalindConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorvalindConfig.cmake
  ${PROJECT_BINARY_DIR}/quorvalindConfigVersion.cmake
  DESTINATION ${QUORVALIND_CMAKE_DIR} COMPONENT dev)
