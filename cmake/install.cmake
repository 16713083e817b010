include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS vinto_offline vinto EXPORT vintoTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vinto)
install(EXPORT vintoTargets NAMESPACE vinto:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vinto)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vintoConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vintoConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vinto)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vintoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vintoConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/vintoConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vinto)

# pkg-config: the whole library. The prefix is found from the file's own place,
# so an install under any --prefix works.
file(RELATIVE_PATH vinto_pc_prefix "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
if(WIN32)
  set(vinto_pc_requires "")
  set(vinto_pc_libs "-lvinto_platform -lvinto -lwinmm")
else()
  set(vinto_pc_requires "sdl2")
  set(vinto_pc_libs "-lvinto_platform -lvinto -lpthread -lm")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/vinto.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vinto.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vinto.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
