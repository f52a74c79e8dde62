# qd_install.cmake - What `cmake --install` and `cpack` deliver
#
# An installation is what a package author needs on a Linux build server:
#   bin/                    qdpack (the builder), qdpkg and qdcodec;
#   share/qdpack/QdPack.exe the 32-bit product, the stub a package starts with;
#   lib/cmake/QdPack/       a CMake package, so that the author's own project
#                           can find_package(QdPack) and build its packages
#                           with qdpack_add_package (cmake/package/).
# CPack makes a Debian package of the same files (`cpack -G DEB` in the build
# directory). Included by the native build only.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS qdpack qdpkg qdcodec EXPORT QdPackTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The stub comes from the 32-bit Windows build: the sub-build, or the build
# that QDPACK_WIN32_DIR names. Without one, the installation has no stub and
# qdpack_add_package needs its STUB argument.
set(QDPACK_STUB_DIR ${CMAKE_INSTALL_DATADIR}/qdpack)
if(QDPACK_WIN32_DIR)
  install(FILES ${QDPACK_WIN32_DIR}/src/QdPack.exe DESTINATION ${QDPACK_STUB_DIR})
else()
  message(STATUS "An installation will hold no stub: no 32-bit Windows build (QDPACK_WIN32_DIR)")
endif()

# The CMake package. The version file accepts requests for the same major
# version; it holds programs, so a project of any processor width may use it.
set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/QdPack)
set(package_dir ${PROJECT_SOURCE_DIR}/cmake/package)
configure_package_config_file(${package_dir}/QdPackConfig.cmake.in ${PROJECT_BINARY_DIR}/QdPackConfig.cmake
  INSTALL_DESTINATION ${config_dir}
  PATH_VARS QDPACK_STUB_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QdPackConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion
  ARCH_INDEPENDENT)
install(EXPORT QdPackTargets NAMESPACE QdPack:: DESTINATION ${config_dir})
install(FILES ${PROJECT_BINARY_DIR}/QdPackConfig.cmake ${PROJECT_BINARY_DIR}/QdPackConfigVersion.cmake
              ${package_dir}/QdPackFunctions.cmake ${package_dir}/QdPackScript.cmake
              ${package_dir}/QdPackBuild.cmake
        DESTINATION ${config_dir})

# The Debian package: named qdpack, versioned as the project, depending only
# on the libraries the programs link (dpkg-shlibdeps finds them). CMake and
# osslsigncode are suggested: the CMake package and signing use them.
set(CPACK_PACKAGE_NAME qdpack)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Builds self-extracting QdPack update packages on Linux")
set(CPACK_PACKAGE_CONTACT "QdPack developers <qdpack@localhost>" CACHE STRING "Maintainer of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake (>= 3.20), osslsigncode")
include(CPack)
