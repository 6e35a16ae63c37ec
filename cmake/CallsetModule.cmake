# callset_add_module(<name> SOURCES <files...> [LINKS <targets...>])
#
# Declares one shared library of the package. Every module sees the
# repository root as its include root (so headers are included as
# "CallsetConverter/Parsers/ICallReader.h"), builds with the project's
# warning set, links exactly the modules it names, and is installed into the
# package's own library folder, where it finds its siblings through a
# relative run path.
set(CALLSET_WARNINGS -Wall -Wextra -Wpedantic)
set(CALLSET_LIBRARY_DIR "${CMAKE_INSTALL_LIBDIR}/callset-converter")

function(callset_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  add_library(CallsetConverter::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_options(${name} PRIVATE ${CALLSET_WARNINGS})
  target_compile_features(${name} PUBLIC cxx_std_20)
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  if(ARG_LINKS)
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  endif()
  set_property(GLOBAL APPEND PROPERTY CALLSET_MODULES ${name})
endfunction()
