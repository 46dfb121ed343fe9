# The web console's tests, in Python (Debian's /usr/bin/python3): the
# launcher end to end with lighttpd and the server, and, outside the
# sanitizer builds, the pages in headless Chromium driven by Selenium.
set(console_python /usr/bin/python3)
set(console_env
  IFCSIM_CONSOLE=${CMAKE_BINARY_DIR}/src/console/ifcsim-console
  IFCSIM_BINARY=$<TARGET_FILE:ifcsim>
  IFCSIM_BUILD_DIR=${CMAKE_BINARY_DIR}
  IFCSIM_SCREENSHOTS=${CMAKE_BINARY_DIR}/console-screenshots
  PYTHONDONTWRITEBYTECODE=1)

find_program(console_lighttpd lighttpd PATHS /usr/sbin /usr/local/sbin)
set(console_missing)
if(NOT EXISTS ${console_python})
  list(APPEND console_missing python3)
endif()
if(NOT console_lighttpd)
  list(APPEND console_missing lighttpd)
endif()
if(NOT IFCSIM_SANITIZE)
  execute_process(COMMAND ${console_python} -c "import selenium"
                  RESULT_VARIABLE console_no_selenium OUTPUT_QUIET ERROR_QUIET)
  if(console_no_selenium)
    list(APPEND console_missing python3-selenium)
  endif()
  foreach(program chromium chromedriver)
    if(NOT EXISTS /usr/bin/${program})
      list(APPEND console_missing ${program})
    endif()
  endforeach()
endif()
if(console_missing)
  if(IFCSIM_REQUIRE_TESTS)
    message(FATAL_ERROR "the console tests need ${console_missing} "
                        "(scripts/install-deps installs them)")
  endif()
  message(WARNING "console tests are not run: ${console_missing} missing "
                  "(scripts/install-deps installs them)")
  return()
endif()

add_test(NAME console_launcher
         COMMAND ${console_python} ${CMAKE_CURRENT_LIST_DIR}/launcher_test.py)
set_tests_properties(console_launcher PROPERTIES
  LABELS console TIMEOUT 240 ENVIRONMENT "${console_env}")

if(NOT IFCSIM_SANITIZE)
  add_test(NAME console_browser
           COMMAND ${console_python} ${CMAKE_CURRENT_LIST_DIR}/browser_test.py
                   PagesTest ReadingsTest FaultsTest UnreachableTest)
  # The measurements page reloads itself every few seconds: waiting for that
  # takes real time.
  add_test(NAME console_browser_refresh
           COMMAND ${console_python} ${CMAKE_CURRENT_LIST_DIR}/browser_test.py RefreshTest)
  set_tests_properties(console_browser PROPERTIES LABELS browser)
  set_tests_properties(console_browser_refresh PROPERTIES LABELS "browser;slow")
  set_tests_properties(console_browser console_browser_refresh PROPERTIES
    TIMEOUT 300 ENVIRONMENT "${console_env}")
endif()
