# Installs the geometry core as a CMake package:
#   find_package(quorvalind CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE quorvalind::core)
# Headers keep their folder layout under include/quorvalind, so a consumer
# writes #include "gp/pnt.h" exactly as the core's own sources do.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUORVALIND_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/quorvalind")

set_property(TARGET quorvalind_core PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/quorvalind>")
set_target_properties(quorvalind_core PROPERTIES EXPORT_NAME core)
# Inline arithmetic in the headers must round as the library does.
target_compile_options(quorvalind_core INTERFACE -ffp-contract=off)
target_compile_features(quorvalind_core PUBLIC cxx_std_20)

install(TARGETS quorvalind_core EXPORT quorvalindTargets COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The binding layer is not part of the C++ package.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvalind COMPONENT dev
  FILES_MATCHING PATTERN "*.h"
  PATTERN "lib" EXCLUDE)
install(EXPORT quorvalindTargets NAMESPACE quorvalind:: FILE quorvalindTargets.cmake
  DESTINATION ${QUORVALIND_CMAKE_DIR} COMPONENT dev)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quorvalindConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorvalindConfig.cmake INSTALL_DESTINATION ${QUORVALIND_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorvalindConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorvalindConfig.cmake
  ${PROJECT_BINARY_DIR}/quorvalindConfigVersion.cmake
  DESTINATION ${QUORVALIND_CMAKE_DIR} COMPONENT dev)
