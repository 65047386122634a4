include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS varne EXPORT VarneTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/varne)
# The public headers keep their folders, so "frame/interfaces.h" resolves under include/varne.
foreach(folder frame records settings browser spreadsheet platform)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/varne/${folder}
          FILES_MATCHING PATTERN "*.h")
endforeach()
install(EXPORT VarneTargets NAMESPACE Varne:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Varne)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VarneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VarneConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Varne)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VarneConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VarneConfig.cmake ${PROJECT_BINARY_DIR}/VarneConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Varne)
