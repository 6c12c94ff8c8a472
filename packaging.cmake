# The Debian package (cpack -G DEB, scripts/package.sh): the installation of
# install rules, with the dependencies dpkg-shlibdeps reads from the
# programs, and the copyright and changelog files Debian asks of every
# package (installed by cmake --install as well). On Windows: the installer
# and the portable .zip (cpack, scripts/build-windows.sh), the programs and
# zarn.txt in one folder.
if(NOT WIN32)
  add_subdirectory(data)
endif()

set(ZARN_MAINTAINER "ZARN developers <zarn-developers@example.org>" CACHE STRING
    "Maintainer of the Debian package, name and address")
string(TIMESTAMP ZARN_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP ZARN_COPYRIGHT_YEAR "%Y" UTC)
configure_file(data/copyright ${CMAKE_BINARY_DIR}/debian-doc/copyright @ONLY)
configure_file(data/changelog ${CMAKE_BINARY_DIR}/debian-doc/changelog @ONLY)
find_program(ZARN_GZIP gzip)
if(WIN32)
  install(FILES ${CMAKE_BINARY_DIR}/debian-doc/copyright DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME copyright.txt)
elseif(ZARN_GZIP)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian-doc/changelog.gz
    COMMAND ${ZARN_GZIP} -9nkf changelog
    DEPENDS ${CMAKE_BINARY_DIR}/debian-doc/changelog
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/debian-doc
    VERBATIM)
  add_custom_target(zarn_debian_doc ALL DEPENDS ${CMAKE_BINARY_DIR}/debian-doc/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/debian-doc/copyright ${CMAKE_BINARY_DIR}/debian-doc/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME zarn)
set(CPACK_PACKAGE_VENDOR "ZARN developers")
set(CPACK_PACKAGE_CONTACT "${ZARN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION [[
ZARN reads BNA vector files whose coordinates are longitude and latitude
in degrees and computes, for every polygon, its area in square kilometres
and its centroid in degrees. It writes the centroids as a BNA file and
the areas as a CSV file beside the input, and draws a map of all polygons
as a BMP image. On request it also gives every polygon's area, perimeter
and centroid on the WGS84 ellipsoid, and writes the polygons and their
figures as GeoPackage, GeoJSON, Shapefile, FlatGeobuf or KML files for
today's GIS software.
.
The package holds the window (zarn) and the batch command for scripts
(zarn-batch).]])
set(CPACK_PACKAGE_INSTALL_DIRECTORY zarn)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
if(WIN32)
  # zarn-VERSION-win64-setup.exe (NSIS: Program Files, a Start-menu entry,
  # an uninstaller listed by Windows; /S installs and uninstalls silently)
  # and the portable zarn-VERSION-win64.zip of the same files.
  set(CPACK_GENERATOR NSIS ZIP)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY ZARN)
  set(CPACK_PACKAGE_FILE_NAME zarn-${PROJECT_VERSION}-win64)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/shell/windows/cpack-options.cmake)
  # A 64-bit installer and uninstaller (NSIS's amd64 stubs), so that they
  # write Windows' 64-bit registry view and need no 32-bit subsystem.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_PACKAGE_NAME ZARN)
  set(CPACK_NSIS_DISPLAY_NAME "ZARN ${PROJECT_VERSION}")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  set(CPACK_PACKAGE_EXECUTABLES zarn ZARN)
  set(CPACK_NSIS_INSTALLED_ICON_NAME zarn.exe)
  set(CPACK_NSIS_MUI_ICON ${CMAKE_CURRENT_LIST_DIR}/shell/windows/zarn.ico)
  set(CPACK_NSIS_MUI_UNIICON ${CMAKE_CURRENT_LIST_DIR}/shell/windows/zarn.ico)
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_BINARY_DIR}/debian-doc/copyright)
endif()
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The map's labels need a font that fontconfig finds; Qt does not bring one.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
include(CPack)
