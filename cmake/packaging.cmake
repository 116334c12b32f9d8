# SPDX-License-Identifier: BSD-2-Clause
# A Debian package from the install rules:
#   cpack -G DEB --config build/CPackConfig.cmake
# The package installs under /usr whatever CMAKE_INSTALL_PREFIX is, so the
# program lands in /usr/sbin and its manual page in /usr/share/man/man8.
#
# Besides the program and its manual page (the default component, all
# that cmake --install puts in place), the package carries the files of
# the "deb" component, which cmake --install leaves out: the copyright
# and changelog in Debian's formats, the manual page compressed, the
# lintian override and the apt hook as an example.  The package is made
# of the two components, in that order, so the compressed page takes the
# place of the plain one.
#
# On FreeBSD the daily periodic(8) script is installed too, in the
# "periodic" component of cmake --install.

# The periodic script, configured everywhere (its test runs on Linux) and
# installed where periodic(8) looks for the scripts of added software.
set(STALEWATCH_PERIODIC_SCRIPT
  ${PROJECT_BINARY_DIR}/dist/periodic/daily/491.status-stalewatch)
configure_file(${PROJECT_SOURCE_DIR}/dist/periodic/daily/491.status-stalewatch.in
  ${STALEWATCH_PERIODIC_SCRIPT} @ONLY)
if(CMAKE_SYSTEM_NAME STREQUAL "FreeBSD")
  install(PROGRAMS ${STALEWATCH_PERIODIC_SCRIPT}
    DESTINATION etc/periodic/daily COMPONENT periodic)
endif()

set(CPACK_PACKAGE_NAME stalewatch)
set(CPACK_PACKAGE_VENDOR "stalewatch developers")
# No person maintains the package, so there is no mail address to give;
# dist/debian/lintian-overrides says so where lintian would object.
set(CPACK_PACKAGE_CONTACT "stalewatch developers")
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
# One package of the default component and the Debian files.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified deb)

find_program(GZIP gzip)
if(NOT CMAKE_SYSTEM_NAME STREQUAL "FreeBSD" AND GZIP)
  set(debdoc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
  set(debout ${PROJECT_BINARY_DIR}/dist/debian)

  # The copyright file in Debian's machine-readable format, made from
  # LICENSE: its first line names the holders, the rest is the license.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  if(NOT license MATCHES "^Copyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
    message(FATAL_ERROR "LICENSE does not start with its copyright line")
  endif()
  set(holders "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "\n\n" "\n.\n" text "${CMAKE_MATCH_2}")
  string(REGEX REPLACE "\n" "\n " text "${text}")
  file(GENERATE OUTPUT ${debout}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}

Files: *
Copyright: ${holders}
License: BSD-2-clause

License: BSD-2-clause
 ${text}
")

  # The changelog and the manual page compressed as Debian wants them:
  # gzip -9n, without a name or time stamp, so the bytes are reproducible.
  add_custom_command(OUTPUT ${debout}/changelog.gz
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/dist/debian/changelog
      > ${debout}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/dist/debian/changelog VERBATIM)
  add_custom_command(OUTPUT ${debout}/stalewatch.8.gz
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/man/stalewatch.8
      > ${debout}/stalewatch.8.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/man/stalewatch.8 VERBATIM)
  add_custom_target(debian_files ALL
    DEPENDS ${debout}/changelog.gz ${debout}/stalewatch.8.gz)

  install(FILES ${debout}/copyright ${debout}/changelog.gz
    DESTINATION ${debdoc} COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/dist/apt/80stalewatch
    DESTINATION ${debdoc}/examples COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/dist/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    RENAME ${CPACK_PACKAGE_NAME} COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${debout}/stalewatch.8.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT deb EXCLUDE_FROM_ALL)
  # The plain page is gone.
  install(CODE "file(REMOVE
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man8/stalewatch.8\")"
    COMPONENT deb EXCLUDE_FROM_ALL)
  # The program loses the compiler's notes too, as dh_strip has it.
  if(CMAKE_STRIP)
    install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\"
      --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}/stalewatch\"
      RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR \"${CMAKE_STRIP} failed on the program\")
    endif()"
      COMPONENT deb EXCLUDE_FROM_ALL)
  endif()
elseif(NOT CMAKE_SYSTEM_NAME STREQUAL "FreeBSD")
  message(STATUS "deb: gzip not found, the package will lack its Debian files")
endif()
include(CPack)
