# Cross-build for Windows x86-64 with mingw-w64 (posix threads, for std::thread).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DLAUNCHER_MINGW_PREFIX=<deps prefix> ...
# LAUNCHER_MINGW_PREFIX (cache variable or environment variable) is where
# scripts/build-mingw-deps.sh installed liblzma, libzip, GoogleTest and the JSON headers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LAUNCHER_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LAUNCHER_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LAUNCHER_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LAUNCHER_MINGW_TRIPLE}-windres)

# The toolchain file is read again for every try_compile, where only the environment is
# carried over: keep the prefix in both.
if(NOT LAUNCHER_MINGW_PREFIX AND DEFINED ENV{LAUNCHER_MINGW_PREFIX})
  set(LAUNCHER_MINGW_PREFIX "$ENV{LAUNCHER_MINGW_PREFIX}")
endif()
if(LAUNCHER_MINGW_PREFIX)
  set(LAUNCHER_MINGW_PREFIX "${LAUNCHER_MINGW_PREFIX}" CACHE PATH "Prefix of the mingw-w64 dependencies")
  set(ENV{LAUNCHER_MINGW_PREFIX} "${LAUNCHER_MINGW_PREFIX}")
endif()

set(CMAKE_FIND_ROOT_PATH ${LAUNCHER_MINGW_PREFIX} /usr/${LAUNCHER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: the programs need no libstdc++, libgcc or winpthread DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Test programs run under Wine (ctest, gtest_discover_tests), through a script that starts a
# program again when Wine failed to start it at all.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
