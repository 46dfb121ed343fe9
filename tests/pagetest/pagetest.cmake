# ifcsim-run and ifcsim-cgi as a page author runs them, from the build tree;
# the install test runs them installed, under CTest.
set(pagetest_python /usr/bin/python3)
if(NOT EXISTS ${pagetest_python})
  if(IFCSIM_REQUIRE_TESTS)
    message(FATAL_ERROR "the page test tools' tests need python3 "
                        "(scripts/install-deps installs it)")
  endif()
  message(WARNING "the page test tools are not tested: python3 missing")
  return()
endif()

foreach(name run cgi)
  add_test(NAME pagetest_${name}
           COMMAND ${pagetest_python} ${CMAKE_CURRENT_LIST_DIR}/${name}_test.py)
endforeach()
set_tests_properties(pagetest_run pagetest_cgi PROPERTIES
  LABELS quick TIMEOUT 120
  ENVIRONMENT "IFCSIM_RUN=${CMAKE_BINARY_DIR}/src/pagetest/ifcsim-run;IFCSIM_CGI=${CMAKE_BINARY_DIR}/src/pagetest/ifcsim-cgi;PYTHONPATH=${PROJECT_SOURCE_DIR}/tests/console;PYTHONDONTWRITEBYTECODE=1")
