# What `cmake --install` puts where, the discovery files for consumers (pkg-config and a CMake
# package), and the Debian package made by `cpack -G DEB`. Tests, benchmarks and fuzz targets
# install nothing.
include(CMakePackageConfigHelpers)

# Installing and packaging never build: `cmake --install` and `cpack` (and the package test run by
# ctest) take the tree as it was built, instead of rebuilding everything behind the test run.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS tbxapp EXPORT tbxappTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/tbxapp.h include/tbxcodes.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# pkg-config. Paths are relative to the file's own place, so the tree works under whatever prefix
# it was installed to (`cmake --install --prefix`, a package's staging directory); install
# directories given as absolute paths stay absolute. No static archive is installed and the shared
# library names its own dependencies, so nothing goes into Requires.private or Libs.private:
# listing them would only make `pkg-config --cflags` demand the OpenSSL and uuid development files
# from every consumer.
set(TBX_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(TBX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH tbx_pc_up "/root/${TBX_PKGCONFIG_DIR}" "/root")
  string(REGEX REPLACE "/$" "" tbx_pc_up "${tbx_pc_up}")
  set(TBX_PC_PREFIX "\${pcfiledir}/${tbx_pc_up}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(TBX_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(TBX_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(cmake/tbxapp.pc.in ${PROJECT_BINARY_DIR}/tbxapp.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tbxapp.pc DESTINATION ${TBX_PKGCONFIG_DIR})

# CMake package: find_package(tbxapp) gives tbxapp::tbxapp.
set(TBX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tbxapp)
install(EXPORT tbxappTargets NAMESPACE tbxapp:: DESTINATION ${TBX_CMAKE_DIR})
configure_package_config_file(cmake/tbxappConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tbxappConfig.cmake
  INSTALL_DESTINATION ${TBX_CMAKE_DIR})
# The SONAME carries the major version only, so any release of the same major version will do.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tbxappConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tbxappConfig.cmake ${PROJECT_BINARY_DIR}/tbxappConfigVersion.cmake
  DESTINATION ${TBX_CMAKE_DIR})

# Debian package. It installs under /usr (the DEB generator's packaging prefix) whatever prefix the
# build was configured with: Debian keeps packages out of /usr/local.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrum)
set(CPACK_PACKAGE_VENDOR "Kestrum")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrum maintainers <kestrum@example.com>" CACHE STRING
  "Maintainer named in the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kestrum card-payment client library and tools")
set(CPACK_PACKAGE_DESCRIPTION
"libtbxapp is the merchant-side client of the Kestrum card-payment service: a
shared library with a C interface and a Java binding that builds signed payment
offers, verifies the host's signed confirmations and captures payments.
This package holds the library, its header, pkg-config and CMake files, the
Java archive, the kestrum command-line utility and the kestrum-sandbox host.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The jar needs a Java runtime; the C library and the programs do not.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "default-jre-headless | java11-runtime-headless")
# A shlibs file for packages built against this one, and ldconfig run on install and removal.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
find_program(TBX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TBX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, libssl3, libuuid1")
endif()
# `cpack --config CPackSourceConfig.cmake`: the sources without build trees or fuzz output.
set(CPACK_SOURCE_GENERATOR TGZ)
# (Written into the CPack configuration and read again there: hence the doubled escapes.)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/\\\\.git$" "/build[^/]*/" "/fuzz/out/" "\\\\.swp$")
include(CPack)
