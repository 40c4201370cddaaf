# SPDX-License-Identifier: GPL-3.0-or-later
# Libraries and programs whose include paths follow their link lines.
#
# Headers are spelled "<folder>/<file>.h" (the folder relative to the top of the tree).
# Instead of the whole tree, each target gets a folder of its own in the build tree,
# include/<target>, holding a link named like its source folder; so a target sees the
# headers of its own folder and of the libraries it links, and an include of any other
# library's header fails to compile.

# Makes build/include/<target>/<folder> point at the current source folder, or at the
# listed headers only, and gives the folder above it to the target with `scope`.
function(sonvex_own_headers target scope)
  cmake_parse_arguments(ARG "" "" "HEADERS" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  set(link ${root}/${folder})
  # A link is removed as a file: removing it recursively would reach the sources. A real
  # folder there holds only links to single headers.
  if(IS_SYMLINK ${link})
    file(REMOVE ${link})
  elseif(IS_DIRECTORY ${link})
    file(REMOVE_RECURSE ${link})
  endif()
  if(ARG_HEADERS)
    # Only these headers of a folder that holds more than one library.
    file(MAKE_DIRECTORY ${link})
    foreach(header IN LISTS ARG_HEADERS)
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${link}/${header} SYMBOLIC)
    endforeach()
  else()
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${link} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# A library of one folder: sources listed explicitly, headers reached as "<folder>/<file>.h"
# by the library itself and by whoever links it. Without SOURCES it is header-only.
# HEADERS restricts what it exports to those files of the folder.
function(sonvex_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HEADERS;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    sonvex_own_headers(${name} PUBLIC HEADERS ${ARG_HEADERS})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    sonvex_warnings(${name})
  else()
    add_library(${name} INTERFACE)
    sonvex_own_headers(${name} INTERFACE HEADERS ${ARG_HEADERS})
    target_link_libraries(${name} INTERFACE ${ARG_PUBLIC_LIBS})
  endif()
endfunction()

# A program of one folder: it sees its own folder's headers and those of what it links.
function(sonvex_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  sonvex_own_headers(${name} PRIVATE)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  sonvex_warnings(${name})
endfunction()
