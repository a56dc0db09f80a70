# The Windows Installer package the platform tests unpack, made with wixl and gcab on the build
# machine (msitools' wixl writes the .msi naming an external cabinet, gcab writes the cabinet):
#   bin/fixtures/msi/test package.msi and bin/fixtures/msi/files.cab, and a cabinet that lacks
#   world.txt, bin/fixtures/msi/partial/files.cab.
# Made at build time because a Windows test under Wine cannot run those Linux programs.
# Included at the end of tests/CMakeLists.txt, once the test targets exist.
find_program(LAUNCHER_WIXL wixl)
find_program(LAUNCHER_GCAB gcab)
set(msi_source "${CMAKE_CURRENT_LIST_DIR}")
set(msi_output "${LAUNCHER_TEST_BIN_DIR}/fixtures/msi")
if(LAUNCHER_WIXL AND LAUNCHER_GCAB)
  add_custom_command(
    OUTPUT "${msi_output}/test package.msi" "${msi_output}/files.cab"
           "${msi_output}/partial/files.cab"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${msi_output}/partial"
    COMMAND "${LAUNCHER_WIXL}" -o "${msi_output}/test package.msi" "${msi_source}/package.wxs"
    COMMAND "${LAUNCHER_GCAB}" -c -n "${msi_output}/files.cab" files/hello.txt files/world.txt
    COMMAND "${LAUNCHER_GCAB}" -c -n "${msi_output}/partial/files.cab" files/hello.txt
    WORKING_DIRECTORY "${msi_source}"
    DEPENDS "${msi_source}/package.wxs" "${msi_source}/files/hello.txt" "${msi_source}/files/world.txt"
    COMMENT "Making the test Windows Installer package"
    VERBATIM)
  add_custom_target(launcher_test_msi_package DEPENDS "${msi_output}/test package.msi")
  foreach(user IN ITEMS platform_test platform_posix_test)
    if(TARGET ${user})
      add_dependencies(${user} launcher_test_msi_package)
    endif()
  endforeach()
else()
  message(WARNING "wixl or gcab is missing (Debian packages wixl, gcab): the Windows Installer "
                  "tests will fail for want of their package")
endif()
