# SPDX-License-Identifier: BSD-2-Clause
# Installs the build into a fresh prefix and checks what arrived there.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
foreach(f sbin/stalewatch share/man/man8/stalewatch.8)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# The Debian files are the package's alone.
foreach(f share/man/man8/stalewatch.8.gz share/doc share/lintian)
  if(EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "installed, but only the Debian package has it: ${f}")
  endif()
endforeach()
execute_process(COMMAND ${PREFIX}/sbin/stalewatch -x RESULT_VARIABLE rc
  OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 1)
  message(FATAL_ERROR "installed program did not run")
endif()
