# Run by ctest before it lists the Windows tests (a TEST_INCLUDE_FILES entry of tests/), so a
# plain `ctest` in a Windows build directory works under Wine:
#  - WINEPREFIX defaults to the build's own prefix (LAUNCHER_WINE_PREFIX), made when missing;
#  - Wine runs quiet and without the Mono/Gecko installers;
#  - Wine's server and background services are started here with their output on /dev/null.
#    Started by the first test program instead, they would inherit the pipe ctest reads the
#    test list through, and the listing would wait until its timeout.
# scripts/test.sh and scripts/dev.sh do the same themselves and stop the server at the end;
# started here, the server ends by itself a minute after the last Wine program.
if(NOT DEFINED ENV{WINEPREFIX})
  set(ENV{WINEPREFIX} "${LAUNCHER_WINE_PREFIX}")
endif()
if(NOT DEFINED ENV{WINEDEBUG})
  set(ENV{WINEDEBUG} "-all")
endif()
if(NOT DEFINED ENV{WINEDLLOVERRIDES})
  set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
endif()

set(wine_prefix "$ENV{WINEPREFIX}")
file(MAKE_DIRECTORY "${wine_prefix}")
execute_process(COMMAND wineserver -p60 INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
if(NOT EXISTS "${wine_prefix}/system.reg")
  message(STATUS "Creating the Wine prefix ${wine_prefix}")
  execute_process(COMMAND wineboot -i
    INPUT_FILE /dev/null OUTPUT_FILE "${wine_prefix}.log" ERROR_FILE "${wine_prefix}.log")
endif()
execute_process(COMMAND wine cmd /c exit INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
