# The small HTTP server for trying HTTP vusers out (examples/target-server, on cpp-httplib), and
# what the HTTP tests need: the same server inside the test program, and the vusers library for
# the histogram and threshold tests.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_subdirectory(${PROJECT_SOURCE_DIR}/examples/target-server ${PROJECT_BINARY_DIR}/examples/target-server)
if(TARGET qvschedule_tests)
  target_link_libraries(qvschedule_tests PRIVATE qvschedule_vusers PkgConfig::HTTPLIB)
  target_include_directories(qvschedule_tests PRIVATE ${PROJECT_SOURCE_DIR}/examples/target-server)
endif()
