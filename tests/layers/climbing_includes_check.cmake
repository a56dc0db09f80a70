# Runs cmake/check_layers.cmake on small source trees of its own: one where includes climb a
# layer by several spellings beside allowed ones, which must fail naming each climbing file,
# line and layer and none of the allowed ones, and one of the allowed includes alone, which
# must pass.
#   cmake -DCHECKER=<check_layers.cmake> -DWORK=<scratch folder> -P climbing_includes_check.cmake
cmake_minimum_required(VERSION 3.25)

set(layers "platform|catalogue|builder|music|app")

# file under src | the include line | the layer it reaches, or "-" when it is allowed
set(cases
  "builder/beside.cpp|#include \"../music/x.h\"|music"
  "builder/from_root.h|#include \"../../src/app/y.h\"|app"
  "builder/dot_first.cpp|#include \"./../app/z.h\"|app"
  "builder/absolute.cpp|#include \"@WORK@/src/music/x.h\"|music"
  "builder/deep/nested.h|#include \"../../app/y.h\"|app"
  "builder/through_links.cpp|#include <../music/music/x.h>|music"
  "catalogue/by_name.cpp|#  include \"builder/builder.h\"|builder"
  "platform/into_links.cpp|#include \"@WORK@/build/layers/app/app/x.h\"|app"
  "catalogue/other_copy.cpp|#include \"/elsewhere/src/music/x.h\"|music"
  "catalogue/absolute_below.cpp|#include \"@WORK@/src/platform/x.h\"|-"
  "builder/own_name.cpp|#include \"builder/tools.h\"|-"
  "builder/below.cpp|#include \"platform/x.h\"|-"
  "builder/below_beside.cpp|#include \"../catalogue/x.h\"|-"
  "builder/same_folder.cpp|#include \"tools.h\"|-"
  "builder/system.cpp|#include <vector>|-"
  "builder/commented.cpp|// #include \"../app/x.h\"|-"
  "app/below_beside.cpp|#include \"../music/x.h\"|-"
  "music/below.cpp|#include <builder/x.h>|-")

function(write_tree root only_allowed)
  file(REMOVE_RECURSE "${root}")
  foreach(entry IN LISTS cases)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 name)
    list(GET fields 1 line)
    list(GET fields 2 reached)
    if(only_allowed AND NOT reached STREQUAL "-")
      continue()
    endif()
    string(REPLACE "@WORK@" "${root}" line "${line}")
    file(WRITE "${root}/src/${name}" "// fixture\n${line}\nint x;\n")
  endforeach()
endfunction()

function(run_checker root out_result out_output)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" "-DSRC=${root}/src" "-DLAYERS=${layers}" "-DSTAMP=${root}/checked"
            -P "${CHECKER}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX REPLACE "[ \t]*\n[ \t]*" " " output "${output}")  # undo message wrapping
  set(${out_result} "${result}" PARENT_SCOPE)
  set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

set(failures)

# The trees lie in a folder named after a layer: only the path inside the tree may count.
set(root "${WORK}/app/climbing")
write_tree("${root}" OFF)
run_checker("${root}" result output)
if(result EQUAL 0 OR EXISTS "${root}/checked")
  list(APPEND failures "a tree with climbing includes passed the check")
endif()
foreach(entry IN LISTS cases)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 name)
  list(GET fields 2 reached)
  if(reached STREQUAL "-")
    string(FIND "${output}" "src/${name}:" at)
    if(NOT at EQUAL -1)
      list(APPEND failures "src/${name} is allowed and was refused")
    endif()
  else()
    if(NOT output MATCHES "src/${name}:2: the include \"[^\"]*\" reaches ${reached},")
      list(APPEND failures "src/${name}:2 was not refused as reaching ${reached}")
    endif()
  endif()
endforeach()

set(root "${WORK}/app/allowed")
write_tree("${root}" ON)
run_checker("${root}" allowed_result allowed_output)
if(NOT allowed_result EQUAL 0 OR NOT EXISTS "${root}/checked")
  list(APPEND failures "a tree of allowed includes failed the check: ${allowed_output}")
endif()

if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR
          "The layer check is wrong:\n  ${report}\nIts output on the climbing tree:\n${output}")
endif()
