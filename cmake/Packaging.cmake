# Debian packages of the three install components (scripts/package.sh runs cpack):
# libvarne1 (the library), libvarne-dev (headers, CMake package, pkg-config) and
# python3-varne (the module, in the folder Debian's own interpreter searches).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varne)
set(CPACK_PACKAGE_VENDOR "Varne")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Varne developers <varne@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Drives a Chromium browser through web pages, timing and logging each step")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# Debug information stays in the build; the packages carry stripped files.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
if(TARGET varne_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The library's own dependencies come from dpkg-shlibdeps; the other two packages depend on
# this exact library, which brings them in.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvarne1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "chromium")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvarne-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libvarne1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-varne)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The module is built for one interpreter version (its file name carries it).
if(TARGET varne_python)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  math(EXPR python_next "${Python3_VERSION_MINOR} + 1")
  set(python_this ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "libvarne1 (= ${PROJECT_VERSION}), python3 (>= ${python_this}), python3 (<< ${Python3_VERSION_MAJOR}.${python_next})")
endif()

include(CPack)
