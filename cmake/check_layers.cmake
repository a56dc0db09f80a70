# Refuses an #include in a layer's sources that reaches a later layer, however it is spelled.
#   cmake -DSRC=<src folder> -DLAYERS=a|b|c
#         [-DSTAMP=<file touched when every include is allowed>] -P check_layers.cmake
#
# Each layer compiles against the build's layers/<layer>, which links only the layers up to its
# own, so an include by a layer's name ("music/x.h") cannot climb. A quoted include is looked
# up beside the including file first, though, and any include may be an absolute path or climb
# with ".."; those reach every folder. So an include is refused when it may reach a later
# layer, read on paper after "." and "x/.." are taken out: an absolute path or one that climbs
# with ".." that names a later layer anywhere, or a path whose first part is a later layer.

cmake_minimum_required(VERSION 3.25)

foreach(var SRC LAYERS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_layers.cmake needs -D${var}=...")
  endif()
endforeach()
string(REPLACE "|" ";" layers "${LAYERS}")
cmake_path(SET src NORMALIZE "${SRC}")
cmake_path(GET src PARENT_PATH root)

# The latest layer named among `parts`, or -1.
function(latest_named parts out_var)
  set(latest -1)
  foreach(part IN LISTS parts)
    list(FIND layers "${part}" index)
    if(index GREATER latest)
      set(latest ${index})
    endif()
  endforeach()
  set(${out_var} ${latest} PARENT_SCOPE)
endfunction()

# The layer an include's text may reach, or "".
function(reached_layer target out_var)
  cmake_path(NORMAL_PATH target OUTPUT_VARIABLE path)
  if(IS_ABSOLUTE "${path}")
    # Every part counts: src/<layer>, a build's layers/<folder>/<layer>, another copy.
    cmake_path(IS_PREFIX root "${path}" in_tree)
    if(in_tree)
      cmake_path(RELATIVE_PATH path BASE_DIRECTORY "${root}")
    endif()
    string(REPLACE "/" ";" parts "${path}")
  elseif(path MATCHES "^\\.\\.(/|$)")
    # It starts above a folder the compiler searches and reaches whatever it names.
    string(REPLACE "/" ";" parts "${path}")
  else()
    # Beside the file it stays in the file's layer; in an include folder its first part is
    # the layer.
    string(REGEX REPLACE "/.*" "" parts "${path}")
  endif()
  latest_named("${parts}" latest)
  set(name "")
  if(latest GREATER -1)
    list(GET layers ${latest} name)
  endif()
  set(${out_var} "${name}" PARENT_SCOPE)
endfunction()

# The lines of a file as a list, one element per line. The characters that would split or join
# list elements (";", "\\", "[", "]") are turned into "_" first; no include that matters
# here holds them.
function(file_lines file out_var)
  file(READ "${file}" content)
  string(REGEX REPLACE "[][;\\]" "_" content "${content}")
  string(REPLACE "\n" ";" content "${content}")
  set(${out_var} "${content}" PARENT_SCOPE)
endfunction()

set(refused)
foreach(layer IN LISTS layers)
  list(FIND layers "${layer}" own)
  list(SUBLIST layers 0 ${own} allowed)
  list(APPEND allowed "${layer}")
  list(JOIN allowed ", " allowed_text)
  file(GLOB_RECURSE files LIST_DIRECTORIES false "${src}/${layer}/*.h" "${src}/${layer}/*.hpp"
       "${src}/${layer}/*.inc" "${src}/${layer}/*.c" "${src}/${layer}/*.cc"
       "${src}/${layer}/*.cpp" "${src}/${layer}/*.rc")
  list(SORT files)
  foreach(file IN LISTS files)
    file_lines("${file}" lines)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(NOT line MATCHES "^[ \t]*#[ \t]*include(_next)?[ \t]*[<\"]([^\">]+)[\">]")
        continue()
      endif()
      set(target "${CMAKE_MATCH_2}")
      reached_layer("${target}" reached)
      list(FIND layers "${reached}" index)
      if(index GREATER own)
        cmake_path(RELATIVE_PATH file BASE_DIRECTORY "${root}" OUTPUT_VARIABLE shown)
        list(APPEND refused "${shown}:${number}: the include \"${target}\" reaches ${reached}, \
and ${layer} may include only ${allowed_text}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(refused)
  if(DEFINED STAMP)
    file(REMOVE "${STAMP}")  # so that the next build checks again, whatever changed
  endif()
  list(JOIN refused "\n" report)
  message(FATAL_ERROR "An include climbs a layer:\n${report}")
endif()
if(DEFINED STAMP)
  file(TOUCH "${STAMP}")
endif()
