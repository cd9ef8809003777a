# Included by ctest when it starts (tests/CMakeLists.txt generates the caller,
# which sets QUILTVIEW_BINARY and QUILTVIEW_BROWSER_RUN). Adds one entry per engine
# and test of page_test.mjs, named "browser.ENGINE.FULL NAME" and labelled browser
# and ENGINE. Where the tests cannot even be listed (no node), a single entry
# "browser" fails and says why.
execute_process(
  COMMAND sh "${QUILTVIEW_BROWSER_RUN}" --list
  OUTPUT_VARIABLE listed
  ERROR_VARIABLE list_error
  RESULT_VARIABLE list_status)
if(NOT list_status EQUAL 0 OR listed STREQUAL "")
  add_test(browser sh "${QUILTVIEW_BROWSER_RUN}" --list)
  set_tests_properties(browser PROPERTIES LABELS browser)
  return()
endif()

# Names may hold any character but a newline, so the list is cut by hand rather
# than as a CMake list, which would split at ';'.
while(NOT listed STREQUAL "")
  string(FIND "${listed}" "\n" end)
  if(end EQUAL -1)
    set(name "${listed}")
    set(listed "")
  else()
    string(SUBSTRING "${listed}" 0 ${end} name)
    math(EXPR next "${end} + 1")
    string(SUBSTRING "${listed}" ${next} -1 listed)
  endif()
  if(NOT name STREQUAL "")
    # "ENGINE FULL NAME": the engine is the first word.
    string(FIND "${name}" " " space)
    string(SUBSTRING "${name}" 0 ${space} engine)
    math(EXPR rest "${space} + 1")
    string(SUBSTRING "${name}" ${rest} -1 name)
    add_test("browser.${engine}.${name}" sh "${QUILTVIEW_BROWSER_RUN}" "${engine}" "${name}")
    set_tests_properties("browser.${engine}.${name}" PROPERTIES
      LABELS "browser;${engine}"
      ENVIRONMENT "QUILTVIEW=${QUILTVIEW_BINARY}"
      TIMEOUT 300)
  endif()
endwhile()
