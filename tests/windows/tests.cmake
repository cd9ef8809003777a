# The tests of the Windows build, run under Wine where it is the emulator.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()
# Wine makes its prefix on first use; made once here, so that the tests, run in
# parallel, do not all make it at once.
if(NOT EXISTS ${PROJECT_BINARY_DIR}/wine/system.reg)
  message(STATUS "Making the Wine prefix ${PROJECT_BINARY_DIR}/wine")
  execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot.exe --init
                  RESULT_VARIABLE wineboot_result OUTPUT_QUIET ERROR_QUIET)
endif()
