# Installation after the freedesktop conventions (program, desktop entry,
# hicolor icons) and the Debian package CPack builds from it.
include(GNUInstallDirs)

install(TARGETS horolab RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS horolab_window RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/horolab)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/horolab.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The manual page, compressed reproducibly as Debian wants it.
add_custom_command(OUTPUT horolab.1.gz COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/horolab.1 > horolab.1.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/horolab.1)
add_custom_target(horolab_manpage ALL DEPENDS horolab.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/horolab.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

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

set(HOROLAB_PACKAGE_MAINTAINER "Horolab maintainers <horolab@vantrel.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME horolab)
set(CPACK_PACKAGE_VENDOR Vantrel)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "diagnostic tool for NTP time servers")
# Lines kept under 80 columns, as Debian descriptions want them.
set(CPACK_PACKAGE_DESCRIPTION [=[
Horolab sends one NTP request to a time server and shows its answer:
whether the server is online, its stratum and reference, a quick
description of its state and every header field with the timestamps in
local time. A jitter monitor polls the server once a second and can
record the deviations in a CSV file.]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HOROLAB_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the binary links (dpkg-shlibdeps). Qt's platform
# plugins are loaded at run time, but they ship in libqt6gui6, which the
# widgets library depends on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
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
