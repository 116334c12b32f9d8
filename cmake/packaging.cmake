# A Debian package from the install rules:
#   cpack -G DEB --config build/CPackConfig.cmake
# The package installs under /usr whatever CMAKE_INSTALL_PREFIX is, so the
# program lands in /usr/sbin and its manual page in /usr/share/man/man8.
set(CPACK_PACKAGE_NAME stalewatch)
set(CPACK_PACKAGE_VENDOR "stalewatch developers")
set(CPACK_PACKAGE_CONTACT "stalewatch developers <stalewatch@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "stalewatch lists the running processes that still execute code from a
file the kernel can no longer name: an executable or shared library that
was deleted, or replaced under the same name by an upgrade.  Run it after
an upgrade to learn which services to restart.  Its report is text, JSON,
XML or HTML.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C and C++ libraries it links with, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
