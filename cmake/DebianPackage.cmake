# The Debian package, made by CPack's DEB generator from the install rules (cmake/Install.cmake):
# `cpack -G DEB` in a package tree. dpkg-shlibdeps computes the dependencies from the program's
# shared libraries; nothing here needs the network.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME "${ORVANTA_PACKAGE_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}") # with the firmware's revision at cpack time:
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_SOURCE_DIR}/cmake/CPackProjectConfig.cmake")
set(CPACK_ORVANTA_SOURCE_DIR "${CMAKE_SOURCE_DIR}")
set(CPACK_ORVANTA_PROJECT_VERSION "${PROJECT_VERSION}")
set(CPACK_ORVANTA_FIRMWARE_IDENTITY "${ORVANTA_FIRMWARE_IDENTITY}")
set(CPACK_PACKAGE_VENDOR "Orvanta")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON) # no debugging data, and with it no path of the build machine
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "install the firmware of an Orvanta unit over USB")
# The extended description, wrapped for an 80-column terminal.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "The Orvanta Firmware Upgrade Tool upgrades one Orvanta unit at a time.\n"
    "Connect the unit by USB with its STM32 bootloader running (0483:df11):\n"
    "the tool reads which product it is and which firmware it holds,\n"
    "installs the firmware it carries with one click, reads the flash back\n"
    "and proves byte for byte that it matches. It carries dfu-util 0.9 and\n"
    "runs it for every exchange with the unit; a simulator mode plays the\n"
    "whole workflow without hardware.\n"
    "\n"
    "A udev rule lets the user at the seat open the unit's bootloader,\n"
    "without root rights, groups or a world-writable device.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # <name>_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVANTA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt SQL loads its drivers as plugins, which dpkg-shlibdeps cannot see: the upgrade record
# needs SQLite's, the central record PostgreSQL's.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite, libqt5sql5-psql")
# The simulator needs bash, coreutils and flock (util-linux): all essential, so no Depends.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/packaging/linux/postinst" "${CMAKE_SOURCE_DIR}/packaging/linux/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
