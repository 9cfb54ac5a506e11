# Installation layout and the Debian package (cpack -G DEB, or the "package"
# target): the library and the platform's component package in
# /opt/fr_orvalen1c8x3n/, kkt-emulator and drvtest in /usr/bin, the
# documentation and a udev rule example in /usr/share/doc/fr-orvalen1c8x3n/.
# Release packages come from scripts/build-release, which builds in an old
# Debian root so that the binaries load on every supported distribution.
include(GNUInstallDirs)

set(FR_INSTALL_DIR /opt/fr_orvalen1c8x3n)
set(FR_DEB_NAME fr-orvalen1c8x3n)
set(FR_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${FR_DEB_NAME})

install(TARGETS fr_orvalen1c8x3n LIBRARY DESTINATION ${FR_INSTALL_DIR})
install(FILES ${CMAKE_BINARY_DIR}/fr_orvalen1c8x3n.zip DESTINATION ${FR_INSTALL_DIR})
install(TARGETS drvtest RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kkt-emulator)
  install(TARGETS kkt-emulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The service windows module rides inside the library: nothing of its own
# to install.
file(GLOB FR_DOCS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${FR_DOCS} DESTINATION ${FR_DOC_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/99-kkt.rules ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${FR_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${FR_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Velmark)
set(FR_PACKAGE_MAINTAINER "Velmark <drivers@velmark.invalid>" CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${FR_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
# The service windows load GTK 3 and libzip on first use (the library does
# not link them, so dpkg-shlibdeps cannot see them); a server without a
# display does without.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, libgtk-3-0, libzip4")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fiscal-registrar driver for 1C:Enterprise (Orvalen cash registers)")
# Lines of the long description stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "A native external component for the 1C:Enterprise 8 platform that drives
a Russian online cash register with a fiscal storage over a serial port or
TCP/IP. The package holds the library and the platform's component package
in /opt/fr_orvalen1c8x3n, the cash-register emulator kkt-emulator and the
command-line host drvtest.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
