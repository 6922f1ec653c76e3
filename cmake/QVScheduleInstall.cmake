# Install rules of the library: the shared libraries (versioned: libQVSchedule.so.1 is the
# SONAME), the host-facing headers only (flat, under include/QVSchedule), a CMake package with its
# version file and a pkg-config file, so that a host project can do
#   find_package(QVSchedule 1.0 REQUIRED)
#   target_link_libraries(app PRIVATE QVSchedule::QVSchedule)
# or build with `pkg-config --cflags --libs qvschedule`.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QV_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/QVSchedule)
set(QV_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/QVSchedule)
set(QV_INSTALLED_LIBRARIES QVSchedule qvplatform qvcpplogger portlib32 qveventsmanagement)

# The libraries name their source directories as include directories; the installed package
# names the installed header directory instead. qvthreadsafety is header-only (the lock
# annotations that the logger's and the events library's headers use).
foreach(target IN LISTS QV_INSTALLED_LIBRARIES ITEMS qvthreadsafety)
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
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
endforeach()
set_target_properties(${QV_INSTALLED_LIBRARIES} PROPERTIES
  INSTALL_RPATH "$ORIGIN"
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})

install(TARGETS ${QV_INSTALLED_LIBRARIES} qvthreadsafety
  EXPORT QVScheduleTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${QV_INSTALL_INCLUDEDIR})

# What a host includes: the facade, the diagnostics of a refused definition, the host interface and its convenience base, the stage record
# and action stage, the exception base, time comparison, the clock, the logger and its sink, and
# the events library with the event definitions a host raises. Runner internals stay out.
set(QV_INSTALLED_HEADERS
  app/QVSchedule/src/QVSchedule.h
  app/QVSchedule/src/QVScheduleExport.h
  app/QVSchedule/src/QVSchedulerFacade.h
  app/QVSchedule/src/QVDefinitionDiagnostics.h
  app/QVSchedule/src/QVVusersServices.h
  app/QVSchedule/src/QVVusersServicesBase.h
  app/QVSchedule/src/QVSchedulerStage.h
  app/QVSchedule/src/QVActionStage.h
  app/QVSchedule/src/WbBaseException.h
  app/QVSchedule/src/QVTimeCompare.h
  app/platform/QVClock.h
  app/platform/QVWinTypes.h
  app/qvcpplogger/qvcpplogger.h
  app/qvcpplogger/QVLogger.h
  app/qvcpplogger/QVLogFormat.h
  app/qvcpplogger/QVLogSink.h
  app/threadsafety/QVMutex.h
  app/threadsafety/QVThreadSafety.h
  app/qveventsmanagement/qveventsmanagement.h
  app/qveventsmanagement/QVBaseEventsManager.h
  app/qveventsmanagement/QVEventsManager.h
  app/qveventsmanagement/QVEventDef.h
  app/qveventsmanagement/QVEventHandler.h
  app/qveventsmanagement/QVEventRequest.h
  app/qveventsmanagement/QVHostEventDefs.h)
list(TRANSFORM QV_INSTALLED_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/)
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

# pkg-config: the libraries a host's code calls into directly (facade, clock, logger, events). The
# prefix is found from the file's own place, so any --prefix given at install time works.
set(QV_PC_FILE ${CMAKE_CURRENT_BINARY_DIR}/qvschedule.pc)
file(RELATIVE_PATH QV_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
file(WRITE ${QV_PC_FILE}.in [=[
prefix=${pcfiledir}/@QV_PC_TO_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@/QVSchedule

Name: qvschedule
Description: Scheduler library of a load-testing application (host-facing interface)
Version: @PROJECT_VERSION@
Cflags: -I${includedir} -pthread
Libs: -L${libdir} -lQVSchedule -lqveventsmanagement -lqvcpplogger -lqvplatform -pthread
]=])
configure_file(${QV_PC_FILE}.in ${QV_PC_FILE} @ONLY)
install(FILES ${QV_PC_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
