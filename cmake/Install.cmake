# Installation after the freedesktop conventions (program, desktop entry,
# hicolor icons) and the Debian package CPack builds from it.
include(GNUInstallDirs)

install(TARGETS horolab RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS horolab_window RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/horolab)
# A stripped install (the package's) drops the compiler's notes from both
# programs too, as Debian's own strip step does.
foreach(program ${CMAKE_INSTALL_BINDIR}/horolab ${CMAKE_INSTALL_LIBEXECDIR}/horolab/horolab)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${program}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endforeach()
# The desktop entry and the AppStream metainfo are named by the application's
# id, as software centres look them up.
set(HOROLAB_APP_ID org.horolab.Horolab)
set(HOROLAB_PACKAGE_MAINTAINER "The Horolab developers <maintainers@horolab.org>"
    CACHE STRING "Maintainer of the Debian package, its changelog and copyright")
set(HOROLAB_HOMEPAGE "https://horolab.org/" CACHE STRING "Project home page")
set(HOROLAB_SCREENSHOT_URL "${HOROLAB_HOMEPAGE}screenshots/horolab-window.png"
    CACHE STRING "Where packaging/horolab-window.png is published")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${HOROLAB_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${HOROLAB_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/${HOROLAB_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${HOROLAB_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The exporter as a system service, shipped but not enabled: the operator
# names its targets and enables it (README). The unit names the program
# where this installation puts it, which the package decides at packing time.
install(CODE "
  set(bindir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/horolab-exporter.service.in\"
                 \"${CMAKE_BINARY_DIR}/unit/horolab-exporter.service\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/unit/horolab-exporter.service DESTINATION lib/systemd/system)
# Its Prometheus alerting rules and a Grafana dashboard, for the operator to load.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/horolab.rules.yml ${PROJECT_SOURCE_DIR}/packaging/horolab-dashboard.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/horolab)

# Debian's documentation: copyright, changelog and the manual page, the latter
# two compressed as Debian wants them (gzip -9n: no name, no time stamp).
set(HOROLAB_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/horolab)
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in
               ${CMAKE_BINARY_DIR}/doc/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
               ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/doc/copyright DESTINATION ${HOROLAB_DOC_DIR})
find_program(GZIP gzip REQUIRED)
set(HOROLAB_MAN_PAGE ${PROJECT_SOURCE_DIR}/packaging/horolab.1)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz ${CMAKE_BINARY_DIR}/doc/horolab.1.gz
  COMMAND ${GZIP} -9nc ${CMAKE_BINARY_DIR}/doc/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${GZIP} -9nc ${HOROLAB_MAN_PAGE} > ${CMAKE_BINARY_DIR}/doc/horolab.1.gz
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog ${HOROLAB_MAN_PAGE}
  COMMENT "Compressing the changelog and the manual page")
add_custom_target(horolab_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz ${CMAKE_BINARY_DIR}/doc/horolab.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION ${HOROLAB_DOC_DIR})
install(FILES ${CMAKE_BINARY_DIR}/doc/horolab.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The icon theme's PNGs, rendered at build time from the same drawing as the
# compiled-in window icon.
set(HOROLAB_ICON_SIZES 16 32 48 64 128 256)
set(HOROLAB_ICON_DIR ${CMAKE_BINARY_DIR}/icons/hicolor)
add_executable(horolab_icon_png ${PROJECT_SOURCE_DIR}/packaging/IconPng.cpp)
target_include_directories(horolab_icon_png PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(horolab_icon_png PRIVATE Qt6::Gui)
set(icon_files)
foreach(n ${HOROLAB_ICON_SIZES})
  list(APPEND icon_files ${HOROLAB_ICON_DIR}/${n}x${n}/apps/horolab.png)
  install(FILES ${HOROLAB_ICON_DIR}/${n}x${n}/apps/horolab.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${n}x${n}/apps)
endforeach()
add_custom_command(OUTPUT ${icon_files}
  COMMAND horolab_icon_png ${HOROLAB_ICON_DIR} ${HOROLAB_ICON_SIZES}
  DEPENDS horolab_icon_png
  COMMENT "Rendering the desktop icons")
add_custom_target(horolab_icons ALL DEPENDS ${icon_files})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME horolab)
set(CPACK_PACKAGE_VENDOR "The Horolab developers")
set(CPACK_PACKAGE_CONTACT "${HOROLAB_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${HOROLAB_HOMEPAGE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "diagnostic tool for NTP time servers")
# Lines kept under 80 columns, as Debian descriptions want them.
set(CPACK_PACKAGE_DESCRIPTION [=[
Horolab sends one NTP request to a time server and shows its answer:
whether the server is online, its stratum and reference, a quick
description of its state and every header field with the timestamps in
local time. A jitter monitor polls the server once a second, charts the
deviations and can record them in a CSV file. An exporter serves the
figures of chosen servers to Prometheus (horolab-exporter.service, not
enabled on installation).]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HOROLAB_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the binary links (dpkg-shlibdeps). Qt's platform
# plugins are loaded at run time, but they ship in libqt6gui6, which the
# widgets library depends on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The trust store the NTS check verifies servers' certificates against;
# without it only certificates given with --nts-ca are trusted.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates")
include(CPack)

# A sanitized program is not one to ship, and it names its source files.
if(HOROLAB_BUILD_TESTS AND NOT HOROLAB_SANITIZE)
  # Packs into a directory of its own, so a package in the build tree is left alone.
  add_test(NAME package_contents
    COMMAND ${PROJECT_SOURCE_DIR}/tests/package/package_test.sh
            ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/package-test ${PROJECT_VERSION})
  set_tests_properties(package_contents PROPERTIES
    LABELS package TIMEOUT 180 FIXTURES_SETUP horolab_package)
  add_test(NAME package_two_copies
    COMMAND ${PROJECT_SOURCE_DIR}/tests/package/two_copies_test.sh
            ${CMAKE_BINARY_DIR}/package-test/root/usr/bin/horolab)
  set_tests_properties(package_two_copies PROPERTIES
    LABELS package TIMEOUT 60 FIXTURES_REQUIRED horolab_package)
endif()
