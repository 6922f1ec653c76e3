# Install rules of the library: the shared libraries, the host-facing headers (flat, under
# include/QVSchedule) and a CMake package, so that a host project can do
#   find_package(QVSchedule REQUIRED)
#   target_link_libraries(app PRIVATE QVSchedule::QVSchedule)
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QV_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/QVSchedule)
set(QV_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/QVSchedule)
set(QV_INSTALLED_LIBRARIES QVSchedule qvplatform qvcpplogger portlib32 qveventsmanagement)

# The libraries name their source directories as include directories; the installed package
# names the installed header directory instead.
foreach(target IN LISTS QV_INSTALLED_LIBRARIES)
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set(wrapped "")
  foreach(dir IN LISTS dirs)
    if(dir MATCHES "^\\$<")
      list(APPEND wrapped "${dir}")
    else()
      list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
    endif()
  endforeach()
  list(APPEND wrapped "$<INSTALL_INTERFACE:${QV_INSTALL_INCLUDEDIR}>")
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${wrapped}"
    INSTALL_RPATH "$ORIGIN")
endforeach()

install(TARGETS ${QV_INSTALLED_LIBRARIES}
  EXPORT QVScheduleTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${QV_INSTALL_INCLUDEDIR})

file(GLOB QV_INSTALLED_HEADERS
  ${PROJECT_SOURCE_DIR}/app/QVSchedule/src/*.h
  ${PROJECT_SOURCE_DIR}/app/platform/*.h
  ${PROJECT_SOURCE_DIR}/app/qvcpplogger/*.h
  ${PROJECT_SOURCE_DIR}/app/portlib32/*.h
  ${PROJECT_SOURCE_DIR}/app/qveventsmanagement/*.h)
install(FILES ${QV_INSTALLED_HEADERS} DESTINATION ${QV_INSTALL_INCLUDEDIR})

install(EXPORT QVScheduleTargets NAMESPACE QVSchedule:: DESTINATION ${QV_INSTALL_CMAKEDIR})

set(QV_CONFIG_IN ${CMAKE_CURRENT_BINARY_DIR}/QVScheduleConfig.cmake.in)
file(WRITE ${QV_CONFIG_IN} [=[
@PACKAGE_INIT@
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include("${CMAKE_CURRENT_LIST_DIR}/QVScheduleTargets.cmake")
check_required_components(QVSchedule)
]=])
configure_package_config_file(${QV_CONFIG_IN} ${CMAKE_CURRENT_BINARY_DIR}/QVScheduleConfig.cmake
  INSTALL_DESTINATION ${QV_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QVScheduleConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QVScheduleConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/QVScheduleConfigVersion.cmake
  DESTINATION ${QV_INSTALL_CMAKEDIR})
