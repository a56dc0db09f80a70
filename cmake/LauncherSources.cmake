# Source discovery and target settings shared by the project's CMake files.
#
# Sources are found by glob (CONFIGURE_DEPENDS, so a new or removed file re-runs CMake at the
# next build). A file is for one platform when its name says so:
#   stem ends in _win or _win32     -> Windows only   (process_win.cpp, window_win32.cpp)
#   stem ends in _posix or _glfw    -> not on Windows (process_posix.cpp, window_glfw.cpp)
# For tests the same holds before the _test ending (process_win_test.cpp).

function(launcher_platform_filter out_var)
  set(kept)
  foreach(file IN LISTS ARGN)
    get_filename_component(stem "${file}" NAME_WLE)
    string(REGEX REPLACE "_test$" "" stem "${stem}")
    if(stem MATCHES "_(win|win32)$")
      if(WIN32)
        list(APPEND kept "${file}")
      endif()
    elseif(stem MATCHES "_(posix|glfw)$")
      if(NOT WIN32)
        list(APPEND kept "${file}")
      endif()
    else()
      list(APPEND kept "${file}")
    endif()
  endforeach()
  set(${out_var} "${kept}" PARENT_SCOPE)
endfunction()

# launcher_glob(out_var pattern...): the platform's files matching the patterns, sorted.
function(launcher_glob out_var)
  file(GLOB found CONFIGURE_DEPENDS ${ARGN})
  list(SORT found)
  launcher_platform_filter(found ${found})
  set(${out_var} "${found}" PARENT_SCOPE)
endfunction()

# Warnings for the project's own targets (never passed on to the targets that link them).
function(launcher_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(LAUNCHER_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${LAUNCHER_WERROR}>:/WX>)
  endif()
endfunction()

# launcher_layer_include_dirs(src_dir layers_dir folder...): for each folder, in order, makes
# <layers_dir>/<folder>/ holding links named after that folder and every folder before it, each
# to <src_dir>/<name>, and sets LAUNCHER_LAYER_INCLUDE_<folder> to it. A target that compiles
# against that folder sees only those, so an include of a later folder fails to compile. Where
# the host cannot make links (Windows without the right to), every LAUNCHER_LAYER_INCLUDE_<folder>
# is src_dir and the layering is not checked there.
function(launcher_layer_include_dirs src_dir layers_dir)
  set(below)
  foreach(folder IN LISTS ARGN)
    list(APPEND below ${folder})
    set(dir "${layers_dir}/${folder}")
    file(MAKE_DIRECTORY "${dir}")
    foreach(name IN LISTS below)
      set(link "${dir}/${name}")
      if(IS_SYMLINK "${link}")
        file(READ_SYMLINK "${link}" target)
        if(target STREQUAL "${src_dir}/${name}")
          continue()
        endif()
      endif()
      file(REMOVE "${link}")
      file(CREATE_LINK "${src_dir}/${name}" "${link}" RESULT failed SYMBOLIC)
      if(failed)
        message(STATUS "Cannot link ${link} (${failed}); the layers' includes are not checked")
        foreach(each IN LISTS ARGN)
          set(LAUNCHER_LAYER_INCLUDE_${each} "${src_dir}" PARENT_SCOPE)
        endforeach()
        return()
      endif()
    endforeach()
    set(LAUNCHER_LAYER_INCLUDE_${folder} "${dir}" PARENT_SCOPE)
  endforeach()
endfunction()
