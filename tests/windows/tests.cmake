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

# Golden data: the worked examples and the corpus digests of the Linux build, which
# the Windows build must write with each line feed as carriage return and line feed.
add_executable(quiltview_corpus golden/corpus.cpp)
string(JOIN " " emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
add_test(NAME golden
  COMMAND env "QUILTVIEW_EMULATOR=${emulator}"
          bash ${CMAKE_CURRENT_SOURCE_DIR}/golden/run.sh $<TARGET_FILE:quiltview>
          $<TARGET_FILE:quiltview_corpus>)
set_tests_properties(golden PROPERTIES LABELS cli)

# End-to-end cases of what only Windows does with files, one CTest entry each. A
# helper holds a page open as another program may.
add_executable(quiltview_hold windows/hold.cpp)
execute_process(COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/cli.sh --list
                OUTPUT_VARIABLE windows_cases OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REPLACE "\n" ";" windows_cases "${windows_cases}")
foreach(windows_case IN LISTS windows_cases)
  add_test(NAME windows.${windows_case}
    COMMAND env "QUILTVIEW_EMULATOR=${emulator}" "QUILTVIEW_HOLD=$<TARGET_FILE:quiltview_hold>"
            "QUILTVIEW_OBJCOPY=${CMAKE_OBJCOPY}" "QUILTVIEW_VERSION=${PROJECT_VERSION}"
            bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/cli.sh $<TARGET_FILE:quiltview> ${windows_case})
  set_tests_properties(windows.${windows_case} PROPERTIES LABELS cli SKIP_RETURN_CODE 77)
endforeach()
