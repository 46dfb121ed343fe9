# Included from tests/CMakeLists.txt once every test executable exists: the
# hardening tests share a harness, and the save-fault test links a file layer
# that wraps the system calls of a save (-Wl,--wrap), so that the server code
# itself stays untouched.
add_library(ifcsim_hardening STATIC ${CMAKE_CURRENT_LIST_DIR}/harness.cpp)
target_link_libraries(ifcsim_hardening PUBLIC ifcsim_core)
target_include_directories(ifcsim_hardening PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
find_package(Threads REQUIRED)
target_link_libraries(ifcsim_hardening PUBLIC Threads::Threads)

file(GLOB hardening_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
foreach(source ${hardening_tests})
  get_filename_component(base ${source} NAME_WE)
  target_link_libraries(hardening_${base} PRIVATE ifcsim_hardening)
endforeach()

foreach(t hardening_save_faults_test hardening_save_faults_slow_test)
  if(TARGET ${t})
    target_sources(${t} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/fault_layer.cpp)
    target_link_options(${t} PRIVATE
      -Wl,--wrap=open,--wrap=open64,--wrap=write,--wrap=read,--wrap=fsync
      -Wl,--wrap=fdatasync,--wrap=close,--wrap=rename)
  endif()
endforeach()
