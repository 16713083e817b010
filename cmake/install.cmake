include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS vinto EXPORT vintoTargets
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
