# ifcsim-run and ifcsim-cgi from the build tree; the install test runs them
# installed, under CTest. Python as scripts/install-deps installs it.
foreach(name run cgi)
  add_test(NAME pagetest_${name}
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/${name}_test.py)
endforeach()
set_tests_properties(pagetest_run pagetest_cgi PROPERTIES LABELS quick TIMEOUT 120
  ENVIRONMENT "IFCSIM_RUN=${CMAKE_BINARY_DIR}/src/pagetest/ifcsim-run;\
IFCSIM_CGI=${CMAKE_BINARY_DIR}/src/pagetest/ifcsim-cgi;\
PYTHONPATH=${PROJECT_SOURCE_DIR}/tests/console;PYTHONDONTWRITEBYTECODE=1")
