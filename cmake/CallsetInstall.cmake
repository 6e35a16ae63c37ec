# Installation: the program in bin/, the libraries in their own folder
# (lib/callset-converter/, found by the program through its run path, never
# in the system's library folder), the public headers, a CMake package
# giving the namespaced targets CallsetConverter::<module>, and the default
# mapping tables under share/callset-converter/mappings/ and the JSON Schemas
# of the result, the sidecar and the request under
# share/callset-converter/schemas/.
include(CMakePackageConfigHelpers)

get_property(callset_modules GLOBAL PROPERTY CALLSET_MODULES)

install(TARGETS callset-converter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${callset_modules} HelvaraPgxConstants
  EXPORT CallsetConverterTargets
  LIBRARY DESTINATION ${CALLSET_LIBRARY_DIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY "${PROJECT_SOURCE_DIR}/CallsetConverter/"
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/CallsetConverter
  FILES_MATCHING PATTERN "*.h")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/mappings/"
  DESTINATION ${CMAKE_INSTALL_DATADIR}/callset-converter/mappings
  FILES_MATCHING PATTERN "*.json" PATTERN "*.md")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/schemas/"
  DESTINATION ${CMAKE_INSTALL_DATADIR}/callset-converter/schemas
  FILES_MATCHING PATTERN "*.schema.json")

set(CALLSET_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/CallsetConverter)
install(EXPORT CallsetConverterTargets
  NAMESPACE CallsetConverter::
  DESTINATION ${CALLSET_CMAKE_DIR})
configure_package_config_file(
  "${PROJECT_SOURCE_DIR}/cmake/CallsetConverterConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/CallsetConverterConfig.cmake"
  INSTALL_DESTINATION ${CALLSET_CMAKE_DIR})
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/CallsetConverterConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/CallsetConverterConfig.cmake"
  "${PROJECT_BINARY_DIR}/CallsetConverterConfigVersion.cmake"
  DESTINATION ${CALLSET_CMAKE_DIR})

# Debian package: `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME callset-converter)
set(CPACK_PACKAGE_VENDOR "callset-converter developers")
set(CPACK_PACKAGE_CONTACT "callset-converter developers <callset-converter@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Convert PGx diplotype caller output into the Helvara PGx JSON format")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6 (>= 12), libgcc-s1, zlib1g, libicu72, libssl3, libsimdjson14")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
include(CPack)
