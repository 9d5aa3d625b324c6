# How other projects consume an installed Strata: a CMake package
# (find_package(Strata CONFIG) -> Strata::Strata) and a pkg-config file, both
# relative to their own location; and the Debian package made by
# `cpack -G DEB`.
include(CMakePackageConfigHelpers)

set(STRATA_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Strata)
install(EXPORT StrataTargets NAMESPACE Strata:: DESTINATION ${STRATA_CMAKE_INSTALL_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/StrataConfig.cmake.in
  ${PROJECT_BINARY_DIR}/StrataConfig.cmake INSTALL_DESTINATION ${STRATA_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/StrataConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/StrataConfig.cmake
              ${PROJECT_BINARY_DIR}/StrataConfigVersion.cmake
        DESTINATION ${STRATA_CMAKE_INSTALL_DIR})

set(STRATA_PKGCONFIG_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH STRATA_PC_TO_PREFIX /prefix/${STRATA_PKGCONFIG_INSTALL_DIR} /prefix)
string(REGEX REPLACE "/$" "" STRATA_PC_TO_PREFIX "${STRATA_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/strata.pc.in ${PROJECT_BINARY_DIR}/strata.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/strata.pc DESTINATION ${STRATA_PKGCONFIG_INSTALL_DIR})

# One package with everything: library, headers, CMake and pkg-config files,
# the command line and the Python modules. dpkg-shlibdeps names the shared
# libraries it links (libjpeg62-turbo, zlib1g, libcurl4, libopencv-*, ...);
# what is only loaded or imported at run time is listed here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME strata)
set(CPACK_PACKAGE_VENDOR "Strata developers")
set(CPACK_PACKAGE_CONTACT "Strata developers <strata@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Whole-slide microscope image reader: library, command line, Python modules")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Staged with the prefix /usr itself, so that the install script picks the
# system interpreter's Python folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
if(DEFINED STRATA_PYTHON_VERSION)
  # The extension modules are built for this interpreter's minor version.
  # The strata package needs Pillow; its zarr/dask views and cohort jobs need
  # the rest.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= ${STRATA_PYTHON_VERSION}), python3 (<< ${STRATA_PYTHON_NEXT_VERSION}), python3-numpy, python3-pil")
  set(STRATA_PYTHON_RECOMMENDS ", python3-zarr, python3-dask, python3-distributed")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libopenslide0${STRATA_PYTHON_RECOMMENDS}")
include(CPack)
