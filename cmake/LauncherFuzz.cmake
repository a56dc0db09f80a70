# Sanitizer builds and the fuzz targets (clang on Linux).
#
#   -DLAUNCHER_SANITIZE=ON  everything (core, tests, helpers) is built with AddressSanitizer and
#                           UndefinedBehaviorSanitizer; any report stops the program.
#   -DLAUNCHER_FUZZ=ON      (needs LAUNCHER_SANITIZE and clang) the code is also instrumented for
#                           coverage, and every fuzz/<name>_fuzz.cpp becomes a libFuzzer program
#                           fuzz/<name>_fuzz linked with launcher_core and the tests' helpers.
#                           fuzz/seeds/*.cpp make up the program fuzz_seeds, which writes each
#                           target's starting inputs; ctest runs every target for
#                           LAUNCHER_FUZZ_SMOKE_SECONDS on those (label "fuzz").
#
# Included from the top CMakeLists.txt before any target: the flags apply to every target made
# after it. The fuzz targets are defined once the whole directory has been read, so that
# launcher_core and launcher_test_support exist by then.

option(LAUNCHER_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(LAUNCHER_FUZZ "Build the libFuzzer targets (needs LAUNCHER_SANITIZE and clang)" OFF)
set(LAUNCHER_FUZZ_SMOKE_SECONDS 5 CACHE STRING "Seconds ctest runs each fuzz target")

if(LAUNCHER_SANITIZE)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang|GNU" OR WIN32)
    message(FATAL_ERROR "LAUNCHER_SANITIZE needs clang or GCC on Linux")
  endif()
  set(launcher_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
  add_compile_options(${launcher_sanitize_flags})
  add_link_options(${launcher_sanitize_flags})
endif()

if(LAUNCHER_FUZZ)
  if(NOT LAUNCHER_SANITIZE OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "LAUNCHER_FUZZ needs clang and LAUNCHER_SANITIZE=ON")
  endif()
  # Coverage for the fuzzer's guidance; in the other programs the sanitizer runtime answers
  # the instrumentation's calls and nothing else changes.
  add_compile_options(-fsanitize=fuzzer-no-link)

  function(launcher_fuzz_targets)
    set(fuzz_dir "${PROJECT_SOURCE_DIR}/fuzz")
    set(out_dir "${PROJECT_BINARY_DIR}/fuzz")
    file(GLOB fuzz_sources CONFIGURE_DEPENDS "${fuzz_dir}/*_fuzz.cpp")
    list(SORT fuzz_sources)
    file(GLOB seed_sources CONFIGURE_DEPENDS "${fuzz_dir}/seeds/*.cpp")

    set(seeds_dir "${out_dir}/seeds")
    if(seed_sources)
      add_executable(fuzz_seeds ${seed_sources})
      target_link_libraries(fuzz_seeds PRIVATE launcher_core launcher_test_support)
      target_include_directories(fuzz_seeds PRIVATE "${fuzz_dir}")
      set_target_properties(fuzz_seeds PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${out_dir}")
      launcher_warnings(fuzz_seeds)
      # Seeds are made afresh by ctest before the smoke runs, so they always match the code.
      add_test(NAME fuzz.seeds COMMAND fuzz_seeds "${seeds_dir}")
      set_tests_properties(fuzz.seeds PROPERTIES FIXTURES_SETUP fuzz_seeds LABELS fuzz)
    endif()

    foreach(source IN LISTS fuzz_sources)
      get_filename_component(name "${source}" NAME_WLE)
      add_executable(${name} "${source}")
      target_link_libraries(${name} PRIVATE launcher_core)
      if(TARGET launcher_test_support)
        target_link_libraries(${name} PRIVATE launcher_test_support)
      endif()
      target_include_directories(${name} PRIVATE "${fuzz_dir}")
      target_link_options(${name} PRIVATE -fsanitize=fuzzer)
      set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${out_dir}")
      launcher_warnings(${name})

      # The smoke run: a fresh corpus each time (new finds land there), the seeds read only.
      # A crash, a leak, a sanitizer report or an input that takes over 10 s fails the test and
      # leaves the input in artifacts/<name>/.
      string(REGEX REPLACE "_fuzz$" "" short "${name}")
      set(work "${out_dir}/smoke/${short}")
      add_test(NAME fuzz.${short}
        COMMAND "${CMAKE_COMMAND}"
          "-DFUZZER=$<TARGET_FILE:${name}>" "-DWORK=${work}" "-DSEEDS=${seeds_dir}/${short}"
          "-DSECONDS=${LAUNCHER_FUZZ_SMOKE_SECONDS}"
          -P "${PROJECT_SOURCE_DIR}/cmake/fuzz_smoke.cmake")
      set_tests_properties(fuzz.${short} PROPERTIES LABELS fuzz)
      if(seed_sources)
        set_tests_properties(fuzz.${short} PROPERTIES FIXTURES_REQUIRED fuzz_seeds)
      endif()
    endforeach()
  endfunction()

  # Runs at the end of the top directory, after every target above exists.
  cmake_language(DEFER DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" CALL launcher_fuzz_targets)
endif()
