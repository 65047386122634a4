include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Three install components, one Debian package each: runtime (the shared library),
# development (headers, the link name, the CMake package, pkg-config) and python (the module).
install(TARGETS varne EXPORT VarneTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(EXPORT VarneTargets NAMESPACE Varne:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Varne
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VarneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VarneConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Varne)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VarneConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VarneConfig.cmake ${PROJECT_BINARY_DIR}/VarneConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Varne COMPONENT development)

# varne.pc finds its prefix from where it lies, so the files work wherever the tree is
# unpacked (a staging root, dpkg -x) as well as under the prefix they were installed to.
file(RELATIVE_PATH VARNE_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" VARNE_PC_TO_PREFIX "${VARNE_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/varne.pc.in ${PROJECT_BINARY_DIR}/varne.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/varne.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
