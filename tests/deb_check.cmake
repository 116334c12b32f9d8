# Builds the Debian package with CPack and checks what it holds.
#   cmake -DBUILD=<build dir> -DOUT=<scratch dir> -DCPACK=<cpack>
#         -DDPKG_DEB=<dpkg-deb> -DSOURCE=<source dir> -P deb_check.cmake
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
foreach(field Package Section Depends)
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

# The listing: the program, executable, in /usr/sbin and the manual page
# in section 8, and nothing outside /usr.
execute_process(COMMAND ${DPKG_DEB} -c ${debs}
  RESULT_VARIABLE rc OUTPUT_VARIABLE listing)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -c failed")
endif()
if(NOT listing MATCHES "(^|\n)-rwxr-xr-x [^\n]* \\./usr/sbin/stalewatch\n")
  message(FATAL_ERROR "no executable /usr/sbin/stalewatch:\n${listing}")
endif()
if(NOT listing MATCHES "(^|\n)-rw-r--r-- [^\n]* \\./usr/share/man/man8/stalewatch\\.8(\\.gz)?\n")
  message(FATAL_ERROR "no manual page in /usr/share/man/man8:\n${listing}")
endif()
string(REGEX MATCHALL "\\./[^\n]*" paths "${listing}")
foreach(p ${paths})
  if(NOT p MATCHES "^\\./(usr(/.*)?)?$")
    message(FATAL_ERROR "outside /usr: ${p}")
  endif()
endforeach()

# Unpacked, the program runs and the manual page is the source's.
execute_process(COMMAND ${DPKG_DEB} -x ${debs} ${OUT}/root RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -x failed")
endif()
execute_process(COMMAND ${OUT}/root/usr/sbin/stalewatch -x
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "usage: stalewatch")
  message(FATAL_ERROR "packaged program: status ${rc}, stderr '${err}'")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
    ${OUT}/root/usr/share/man/man8/stalewatch.8 ${SOURCE}/man/stalewatch.8
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "packaged manual page differs from man/stalewatch.8")
endif()
