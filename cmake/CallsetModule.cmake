# callset_add_module(<name> SOURCES <files...> [LINKS <targets...>])
#
# Declares one shared library of the package. Every module sees the
# repository root as its include root (so headers are included as
# "CallsetConverter/Parsers/ICallReader.h"), builds with the project's
# warning set, and links exactly the modules it names.
set(CALLSET_WARNINGS -Wall -Wextra -Wpedantic)

function(callset_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:include>)
  target_compile_options(${name} PRIVATE ${CALLSET_WARNINGS})
  target_compile_features(${name} PUBLIC cxx_std_20)
  if(ARG_LINKS)
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  endif()
  set_property(GLOBAL APPEND PROPERTY CALLSET_MODULES ${name})
endfunction()
