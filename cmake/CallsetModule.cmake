# callset_add_module(<name> SOURCES <files...> [LINKS <targets...>]
#                    [PRIVATE_LINKS <targets...>] [DEFINITIONS <definitions...>])
#
# Declares one shared library of the package. Every module sees the
# repository root as its include root (so headers are included as
# "CallsetConverter/Parsers/ICallReader.h"), builds with the project's
# warning set, links exactly the modules it names, and is installed into the
# package's own library folder, where it finds its siblings through a
# relative run path. PRIVATE_LINKS and DEFINITIONS are the module's own
# business, not its users'.
#
# The sources are compiled once, into the object library <name>_objects: the
# shared library is made of those objects, and callset_link_modules links
# the same objects into a program, which then loads none of the package's
# shared libraries at start-up.
set(CALLSET_WARNINGS -Wall -Wextra -Wpedantic)
set(CALLSET_LIBRARY_DIR "${CMAKE_INSTALL_LIBDIR}/callset-converter")

function(callset_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;PRIVATE_LINKS;DEFINITIONS" ${ARGN})
  # The objects link the object libraries of the modules named, so that a
  # program linking them gets no shared module on the side.
  set(object_links)
  foreach(link IN LISTS ARG_LINKS)
    if(TARGET ${link}_objects)
      list(APPEND object_links ${link}_objects)
    else()
      list(APPEND object_links ${link})
    endif()
  endforeach()
  add_library(${name}_objects OBJECT ${ARG_SOURCES})
  target_include_directories(${name}_objects PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name}_objects PRIVATE ${CALLSET_WARNINGS})
  target_compile_features(${name}_objects PUBLIC cxx_std_20)
  target_compile_definitions(${name}_objects PRIVATE ${ARG_DEFINITIONS})
  target_link_libraries(${name}_objects PUBLIC ${object_links} PRIVATE ${ARG_PRIVATE_LINKS})

  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_objects>)
  add_library(CallsetConverter::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(${name} PUBLIC cxx_std_20)
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  if(ARG_LINKS)
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  endif()
  if(ARG_PRIVATE_LINKS)
    target_link_libraries(${name} PRIVATE ${ARG_PRIVATE_LINKS})
  endif()
  set_property(GLOBAL APPEND PROPERTY CALLSET_MODULES ${name})
endfunction()

# callset_link_modules(<program> <modules...>)
#
# Links the objects of the modules named, and of every module they link, into
# <program>, with the system libraries they need.
function(callset_link_modules program)
  set(objects)
  set(pending ${ARGN})
  while(pending)
    list(POP_FRONT pending module)
    if(NOT TARGET ${module}_objects OR ${module}_objects IN_LIST objects)
      continue()
    endif()
    list(APPEND objects ${module}_objects)
    get_target_property(links ${module} INTERFACE_LINK_LIBRARIES)
    if(links)
      list(APPEND pending ${links})
    endif()
  endwhile()
  target_link_libraries(${program} PRIVATE ${objects})
endfunction()
