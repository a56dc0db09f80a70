# Writes a C++ source that carries text files byte for byte, run at build time:
#   cmake -DOUTPUT=out.cpp -DHEADER=catalogue/builtin_texts.h
#         "-DTEXTS=Function1=path1|Function2=path2" -P embed_texts.cmake
# Each function returns std::string_view over the file's exact bytes (no terminating NUL in
# the view). A missing file gives an empty view, so the build works before the file exists.
cmake_minimum_required(VERSION 3.25)

set(body "")
string(REPLACE "|" ";" texts "${TEXTS}")
foreach(entry IN LISTS texts)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 function)
  list(GET parts 1 path)
  set(size 0)
  set(literal "")
  if(EXISTS "${path}")
    file(SIZE "${path}" size)
  endif()
  if(size GREATER 0)
    file(READ "${path}" hex HEX)
    # 32 bytes per line, every byte as a \x escape.
    string(LENGTH "${hex}" hex_length)
    set(offset 0)
    while(offset LESS hex_length)
      string(SUBSTRING "${hex}" ${offset} 64 chunk)
      string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" chunk "${chunk}")
      string(APPEND literal "    \"${chunk}\"\n")
      math(EXPR offset "${offset} + 64")
    endwhile()
    string(APPEND body
      "std::string_view ${function}() {\n"
      "  static constexpr char kText[] =\n${literal}  ;\n"
      "  static_assert(sizeof(kText) == ${size} + 1);\n"
      "  return std::string_view(kText, ${size});\n"
      "}\n\n")
  else()
    string(APPEND body "std::string_view ${function}() { return {}; }\n\n")
  endif()
endforeach()

string(CONCAT content
  "// Generated at build time by cmake/embed_texts.cmake; do not edit.\n"
  "#include \"${HEADER}\"\n\nnamespace launcher {\n\n${body}}  // namespace launcher\n")

# Rewrite only on change, so an unchanged text does not recompile.
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
