# The test program runs the qvschedule program as a subprocess: it needs its path, the examples
# and pugixml (to read the charts the program writes).
if(TARGET qvschedule_tests AND TARGET qvschedule-cli)
  target_compile_definitions(qvschedule_tests PRIVATE
    QVSCHEDULE_CLI="$<TARGET_FILE:qvschedule-cli>"
    QVSCHEDULE_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
  target_link_libraries(qvschedule_tests PRIVATE pugixml::pugixml)
  add_dependencies(qvschedule_tests qvschedule-cli)
endif()
