# The folders' layers as the compiler sees them. Headers are included by
# their folder ("media/cd_jobs.h"), and no target has the source folder on
# its include path: each library's include root (<build>/layers/<target>)
# holds only a link to its own folder, given to those that link it. A file
# thus reaches the headers of its own folder and of the targets it links
# (through PUBLIC links, transitively) and no others. scripts/check-layers.sh
# tightens that to the targets a folder links directly, and reads the graph
# for docs/architecture.md.
#
# The check reads the build through CMake's file API: every configure asks
# for the code model.
file(WRITE ${CMAKE_BINARY_DIR}/.cmake/api/v1/query/codemodel-v2 "")

# zb_layer(<target> [HEADERS <header>...]): gives <target> the include root
# of its folder, PUBLIC for a library (PRIVATE for an executable or a
# module). With HEADERS the root holds only those headers of the folder (a
# library that takes only part of its folder).
function(zb_layer target)
  cmake_parse_arguments(L "" "" "HEADERS" ${ARGN})
  # The top-level folder the target is defined in (bench/jobs -> bench).
  file(RELATIVE_PATH _rel ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" _folder "${_rel}")
  set(_root ${CMAKE_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${_root})
  if(L_HEADERS)
    file(MAKE_DIRECTORY ${_root}/${_folder})
    foreach(_h ${L_HEADERS})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${_folder}/${_h} ${_root}/${_folder}/${_h} SYMBOLIC)
    endforeach()
  else()
    file(MAKE_DIRECTORY ${_root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${_folder} ${_root}/${_folder} SYMBOLIC)
  endif()
  get_target_property(_type ${target} TYPE)
  if(_type MATCHES "^(STATIC|SHARED|OBJECT|INTERFACE)_LIBRARY$")
    target_include_directories(${target} PUBLIC ${_root})
  else()
    target_include_directories(${target} PRIVATE ${_root})
  endif()
endfunction()

# zb_layer_sources(<target> <folder>): <target> compiles some of <folder>'s
# sources itself (a fuzz target around one file): it gets that folder's
# headers too. The check counts such a target as depending on <folder>.
function(zb_layer_sources target folder)
  set(_root ${CMAKE_BINARY_DIR}/layers/${target}-${folder})
  file(REMOVE_RECURSE ${_root})
  file(MAKE_DIRECTORY ${_root})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${_root}/${folder} SYMBOLIC)
  target_include_directories(${target} PRIVATE ${_root})
endfunction()

# <build>/layers/links.tsv, written at the end of every configure: each
# target of ours with its type, its folder, the targets and libraries it
# links (LINK_LIBRARIES) and those it passes on (INTERFACE_LINK_LIBRARIES;
# a static library's private links appear there as $<LINK_ONLY:...>). The
# check reads PUBLIC and PRIVATE from it.
function(_zb_layers_collect dir out)
  get_property(_targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(_t ${_targets})
    get_target_property(_type ${_t} TYPE)
    if(_type STREQUAL "UTILITY")
      continue()
    endif()
    get_target_property(_links ${_t} LINK_LIBRARIES)
    get_target_property(_iface ${_t} INTERFACE_LINK_LIBRARIES)
    file(RELATIVE_PATH _rel ${CMAKE_SOURCE_DIR} ${dir})
    string(REPLACE ";" " " _links "${_links}")
    string(REPLACE ";" " " _iface "${_iface}")
    file(APPEND ${out} "${_t}\t${_type}\t${_rel}\t${_links}\t${_iface}\n")
  endforeach()
  get_property(_subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(_d ${_subdirs})
    _zb_layers_collect(${_d} ${out})
  endforeach()
endfunction()
function(_zb_layers_write_links)
  set(_out ${CMAKE_BINARY_DIR}/layers/links.tsv)
  file(WRITE ${_out} "")
  _zb_layers_collect(${CMAKE_SOURCE_DIR} ${_out})
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _zb_layers_write_links)
