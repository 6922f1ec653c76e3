# The test program runs the qvschedule program as a subprocess: it needs its path, the examples,
# the schema and xmllint (to validate the examples and test definitions against it), pugixml (to
# read the charts the program writes) and nlohmann-json (to read its JSON).
if(TARGET qvschedule_tests AND TARGET qvschedule-cli)
  find_program(QV_XMLLINT xmllint)
  if(NOT QV_XMLLINT)
    set(QV_XMLLINT "xmllint")  # the schema test then says it is missing (scripts/install-deps)
  endif()
  target_compile_definitions(qvschedule_tests PRIVATE
    QVSCHEDULE_CLI="$<TARGET_FILE:qvschedule-cli>"
    QVSCHEDULE_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples"
    QVSCHEDULE_SCHEMA="${PROJECT_SOURCE_DIR}/schema/qvschedule.xsd"
    QVSCHEDULE_XMLLINT="${QV_XMLLINT}")
  find_package(nlohmann_json REQUIRED)
  target_link_libraries(qvschedule_tests PRIVATE pugixml::pugixml nlohmann_json::nlohmann_json)
  add_dependencies(qvschedule_tests qvschedule-cli)
endif()
