# cmake --install: component wgc is the library (the DLL with its import library on Windows), corvo_wgc.h, the
# CMake package (find_package(corvo-wgc CONFIG) -> corvo::wgc) and corvo-wgc.pc. In the Linux build, component
# emu is the emulated platform it runs on, with its control API headers (-> corvo::emu, corvo-emu.pc); there
# corvo::wgc needs it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(CORVO_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/corvo-wgc)
set(CORVO_PACKAGE_COMPONENTS wgc)
# Before 1.0 every minor version may change the interface: the soname and the package version file then
# count major.minor as the interface version, afterwards the major version alone.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(CORVO_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
  set(CORVO_COMPATIBILITY SameMinorVersion)
else()
  set(CORVO_SOVERSION ${PROJECT_VERSION_MAJOR})
  set(CORVO_COMPATIBILITY SameMajorVersion)
endif()

set_target_properties(corvo-wgc PROPERTIES EXPORT_NAME wgc)
install(TARGETS corvo-wgc EXPORT corvo-wgc-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT wgc
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT wgc
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT wgc
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/corvo_wgc.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT wgc)
install(EXPORT corvo-wgc-targets NAMESPACE corvo:: DESTINATION ${CORVO_PACKAGE_DIR} COMPONENT wgc)

if(NOT WIN32)
  list(APPEND CORVO_PACKAGE_COMPONENTS emu)
  set_target_properties(corvo-wgc corvo-emu PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${CORVO_SOVERSION})
  # The installed library finds the emulated platform beside it.
  set_target_properties(corvo-wgc PROPERTIES INSTALL_RPATH "$ORIGIN")
  set_target_properties(corvo-emu PROPERTIES EXPORT_NAME emu)
  install(TARGETS corvo-emu EXPORT corvo-emu-targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT emu
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES
    ${PROJECT_SOURCE_DIR}/platform/emulated/include/corvo_emu.h
    ${PROJECT_SOURCE_DIR}/platform/emulated/include/corvo_emu_d3d11.h
    ${PROJECT_SOURCE_DIR}/platform/emulated/include/corvo_emu_display.h
    ${PROJECT_SOURCE_DIR}/platform/emulated/include/corvo_emu_win32.h
    ${PROJECT_SOURCE_DIR}/platform/emulated/include/corvo_emu_window.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT emu)
  install(EXPORT corvo-emu-targets NAMESPACE corvo:: DESTINATION ${CORVO_PACKAGE_DIR} COMPONENT emu)
  set(CORVO_WGC_PC_REQUIRES "Requires: corvo-emu")
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/corvo-wgc-config.cmake.in
  ${PROJECT_BINARY_DIR}/package/corvo-wgc-config.cmake INSTALL_DESTINATION ${CORVO_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/corvo-wgc-config-version.cmake
  COMPATIBILITY ${CORVO_COMPATIBILITY})

# pkg-config files find the prefix from their own place, so the installed tree can move.
file(RELATIVE_PATH CORVO_PC_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" CORVO_PC_PREFIX "${CORVO_PC_PREFIX}")
foreach(component IN LISTS CORVO_PACKAGE_COMPONENTS)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/corvo-${component}.pc.in ${PROJECT_BINARY_DIR}/package/corvo-${component}.pc
    @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/corvo-${component}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT ${component})
  # Each component carries the package files, so either can be found alone.
  install(FILES ${PROJECT_BINARY_DIR}/package/corvo-wgc-config.cmake
    ${PROJECT_BINARY_DIR}/package/corvo-wgc-config-version.cmake
    DESTINATION ${CORVO_PACKAGE_DIR} COMPONENT ${component})
endforeach()
