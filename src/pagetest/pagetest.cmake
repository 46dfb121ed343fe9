# ifcsim-run and ifcsim-cgi, the tools of page tests. ifcsim-run finds the
# server and ifcctl relative to its own location, so one copy is written for
# the build tree and one for the installed layout; ifcsim-cgi needs no paths.
set(pagetest_binary_dir ${CMAKE_CURRENT_BINARY_DIR}/pagetest)

# The runner copies the set files by name; the names have their home in the
# protocol's header.
set(pagetest_config ${PROJECT_SOURCE_DIR}/include/ifcsim/ifcsim_protocol.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pagetest_config})
file(STRINGS ${pagetest_config} pagetest_lines
     REGEX "^#define IFC_[A-Z]+_FILE \"[^\"]+\\.set\"")
set(RUN_SET_FILES)
foreach(line IN LISTS pagetest_lines)
  string(REGEX REPLACE "^#define IFC_[A-Z]+_FILE \"([^\"]+)\".*" "\\1" name "${line}")
  list(APPEND RUN_SET_FILES ${name})
endforeach()
if(NOT RUN_SET_FILES)
  message(FATAL_ERROR "no set file names in ${pagetest_config}")
endif()

set(pagetest_permissions FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(RELATIVE_PATH RUN_IFCSIM ${pagetest_binary_dir} ${CMAKE_CURRENT_BINARY_DIR}/ifcsim)
file(RELATIVE_PATH RUN_IFCCTL ${pagetest_binary_dir}
     ${CMAKE_CURRENT_BINARY_DIR}/ifcctl/ifcctl)
configure_file(pagetest/ifcsim-run.in ${pagetest_binary_dir}/ifcsim-run @ONLY
               ${pagetest_permissions})
configure_file(pagetest/ifcsim-cgi.in ${pagetest_binary_dir}/ifcsim-cgi @ONLY
               ${pagetest_permissions})

set(RUN_IFCSIM ifcsim)
set(RUN_IFCCTL ifcctl)
configure_file(pagetest/ifcsim-run.in ${pagetest_binary_dir}/installed/ifcsim-run @ONLY)
install(PROGRAMS ${pagetest_binary_dir}/installed/ifcsim-run
                 ${pagetest_binary_dir}/ifcsim-cgi
        DESTINATION ${CMAKE_INSTALL_BINDIR})
