# SPDX-License-Identifier: BSD-2-Clause
# Builds the Debian package with CPack and checks what it holds.
#   cmake -DBUILD=<build dir> -DOUT=<scratch dir> -DCPACK=<cpack>
#         -DDPKG_DEB=<dpkg-deb> -DGZIP=<gzip> -DSOURCE=<source dir>
#         [-DLINTIAN=<lintian>] -P deb_check.cmake
# With lintian, the package must give no error and no warning.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${CPACK} -G DEB --config ${BUILD}/CPackConfig.cmake
    -B ${OUT}
  RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${log}")
endif()
file(GLOB debs ${OUT}/*.deb)
list(LENGTH debs n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "expected one .deb in ${OUT}, found ${n}:\n${log}")
endif()

# The control fields.
foreach(field Package Section Depends Version Maintainer)
  execute_process(COMMAND ${DPKG_DEB} -f ${debs} ${field}
    RESULT_VARIABLE rc OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(${field} "${value}")
endforeach()
if(NOT Package STREQUAL "stalewatch" OR NOT Section STREQUAL "admin")
  message(FATAL_ERROR "control: Package '${Package}', Section '${Section}'")
endif()
if(NOT Depends MATCHES "libc6")
  message(FATAL_ERROR "control: Depends '${Depends}' does not name libc6")
endif()
if(NOT Maintainer STREQUAL "stalewatch developers")
  message(FATAL_ERROR "control: Maintainer '${Maintainer}'")
endif()

# The listing: the program, executable, in /usr/sbin, the manual page in
# section 8, compressed, the documents Debian wants, the lintian override
# and the apt hook as an example, and nothing outside /usr.
execute_process(COMMAND ${DPKG_DEB} -c ${debs}
  RESULT_VARIABLE rc OUTPUT_VARIABLE listing)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -c failed")
endif()
if(NOT listing MATCHES "(^|\n)-rwxr-xr-x [^\n]* \\./usr/sbin/stalewatch\n")
  message(FATAL_ERROR "no executable /usr/sbin/stalewatch:\n${listing}")
endif()
foreach(f share/man/man8/stalewatch.8.gz share/doc/stalewatch/copyright
    share/doc/stalewatch/changelog.gz share/doc/stalewatch/examples/80stalewatch
    share/lintian/overrides/stalewatch)
  string(REPLACE "." "\\." re "${f}")
  if(NOT listing MATCHES "(^|\n)-rw-r--r-- [^\n]* \\./usr/${re}\n")
    message(FATAL_ERROR "no file /usr/${f}:\n${listing}")
  endif()
endforeach()
if(listing MATCHES "stalewatch\\.8\n")
  message(FATAL_ERROR "an uncompressed manual page:\n${listing}")
endif()
string(REGEX MATCHALL "\\./[^\n]*" paths "${listing}")
foreach(p ${paths})
  if(NOT p MATCHES "^\\./(usr(/.*)?)?$")
    message(FATAL_ERROR "outside /usr: ${p}")
  endif()
endforeach()

# Unpacked, the program runs, the manual page and the changelog are the
# source's, compressed without a name or a time, and the copyright file
# holds the license.
execute_process(COMMAND ${DPKG_DEB} -x ${debs} ${OUT}/root RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -x failed")
endif()
execute_process(COMMAND ${OUT}/root/usr/sbin/stalewatch -x
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "usage: stalewatch")
  message(FATAL_ERROR "packaged program: status ${rc}, stderr '${err}'")
endif()
foreach(pair "share/man/man8/stalewatch.8.gz;man/stalewatch.8"
    "share/doc/stalewatch/changelog.gz;dist/debian/changelog")
  list(GET pair 0 packed)
  list(GET pair 1 source)
  # gzip -n: no flags, so no name (byte 3), and time stamp 0 (bytes 4 to 7).
  file(READ ${OUT}/root/usr/${packed} head LIMIT 8 HEX)
  if(NOT head MATCHES "^1f8b080000000000$")
    message(FATAL_ERROR "${packed}: not gzip -n (header ${head})")
  endif()
  execute_process(COMMAND ${GZIP} -dc ${OUT}/root/usr/${packed}
    OUTPUT_FILE ${OUT}/unpacked RESULT_VARIABLE rc)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
    ${OUT}/unpacked ${SOURCE}/${source} RESULT_VARIABLE same)
  if(NOT rc EQUAL 0 OR NOT same EQUAL 0)
    message(FATAL_ERROR "packaged ${packed} differs from ${source}")
  endif()
endforeach()
file(STRINGS ${SOURCE}/dist/debian/changelog top LIMIT_COUNT 1)
if(NOT top MATCHES "^stalewatch \\(${Version}\\) ")
  message(FATAL_ERROR "the changelog's last entry '${top}' is not for ${Version}")
endif()
file(READ ${OUT}/root/usr/share/doc/stalewatch/copyright copyright)
if(NOT copyright MATCHES "^Format: https://www\\.debian\\.org/doc/packaging-manuals/copyright-format/1\\.0/\n"
    OR NOT copyright MATCHES "\nCopyright: 2026 The stalewatch developers\nLicense: BSD-2-clause\n"
    OR NOT copyright MATCHES "\n \\.\n THIS SOFTWARE IS PROVIDED ")
  message(FATAL_ERROR "copyright file:\n${copyright}")
endif()

# Debian's own judgement, where lintian is installed.  It refuses to run
# as root unless told to.
if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} --allow-root --fail-on error,warning
      ${debs}
    RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lintian (status ${rc}):\n${log}")
  endif()
  message(STATUS "lintian:\n${log}")
endif()
