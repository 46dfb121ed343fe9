# Included from tests/CMakeLists.txt once every test executable exists: the
# save-fault test links a file layer that wraps the system calls of a save
# (-Wl,--wrap), so that the server code itself stays untouched.
foreach(t hardening_save_faults_test hardening_save_faults_slow_test)
  if(TARGET ${t})
    target_sources(${t} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/fault_layer.cpp)
    target_link_options(${t} PRIVATE
      -Wl,--wrap=open,--wrap=open64,--wrap=write,--wrap=read,--wrap=fsync
      -Wl,--wrap=fdatasync,--wrap=close,--wrap=rename)
  endif()
endforeach()
