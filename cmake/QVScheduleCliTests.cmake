# The test program runs the qvschedule program as a subprocess: it needs its path, the examples
# pugixml (to read the charts the program writes) and nlohmann-json (to read its JSON).
if(TARGET qvschedule_tests AND TARGET qvschedule-cli)
  target_compile_definitions(qvschedule_tests PRIVATE
    QVSCHEDULE_CLI="$<TARGET_FILE:qvschedule-cli>"
    QVSCHEDULE_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
  find_package(nlohmann_json REQUIRED)
  target_link_libraries(qvschedule_tests PRIVATE pugixml::pugixml nlohmann_json::nlohmann_json)
  add_dependencies(qvschedule_tests qvschedule-cli)
endif()
