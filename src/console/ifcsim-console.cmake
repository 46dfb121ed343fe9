# ifcsim-console, the launcher of the web console. It finds the CGI pages and
# the server relative to its own location, so one copy is written for the
# build tree and one for the installed layout.
set(console_binary_dir ${CMAKE_CURRENT_BINARY_DIR}/console)

file(RELATIVE_PATH CONSOLE_CGI_DIR ${console_binary_dir} ${IFCSIM_CONSOLE_CGI_DIR})
file(RELATIVE_PATH CONSOLE_IFCSIM ${console_binary_dir} ${CMAKE_CURRENT_BINARY_DIR}/ifcsim)
configure_file(console/ifcsim-console.in ${console_binary_dir}/ifcsim-console @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

file(RELATIVE_PATH CONSOLE_CGI_DIR ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBEXECDIR}/ifcsim/cgi-bin)
set(CONSOLE_IFCSIM ifcsim)
configure_file(console/ifcsim-console.in ${console_binary_dir}/installed/ifcsim-console @ONLY)
install(PROGRAMS ${console_binary_dir}/installed/ifcsim-console
        DESTINATION ${CMAKE_INSTALL_BINDIR})
