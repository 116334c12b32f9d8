# SPDX-License-Identifier: BSD-2-Clause
#
# Every source file names its license in an SPDX line near its top:
#   cmake -DSOURCE=<source dir> -P spdx_check.cmake
# Sources are the C, C++, Python and CMake files, the shell scripts (a
# file that starts with #!), the templates (*.in) and the files shipped
# from dist/, below the folders listed here, and the top CMakeLists.txt.
# Data is not a source: the reference outputs, fixtures and fuzz corpus,
# and the Debian changelog, whose format has no comments.
set(dirs src xo tests bench dist cmake tools .ci)
set(data
  "^tests/xo/reference/"
  "^tests/unit/fixtures/"
  "^tests/fuzz/corpus/"
  "^dist/debian/changelog$")
set(source_name "(\\.(c|cc|cpp|h|hpp|py|cmake|sh|in)|/CMakeLists\\.txt)$")
set(tag "SPDX-License-Identifier: BSD-2-Clause")
set(lines 5)

string(REPEAT "[^\n]*\n?" ${lines} first_lines)
set(first_lines "^${first_lines}")

set(files ${SOURCE}/CMakeLists.txt)
foreach(d ${dirs})
  file(GLOB_RECURSE found LIST_DIRECTORIES false ${SOURCE}/${d}/*)
  list(APPEND files ${found})
endforeach()

set(checked 0)
set(offenders)
foreach(f ${files})
  file(RELATIVE_PATH rel ${SOURCE} ${f})
  set(skip OFF)
  foreach(re ${data})
    if(rel MATCHES "${re}")
      set(skip ON)
    endif()
  endforeach()
  if(skip OR rel MATCHES "(^|/)__pycache__/")
    continue()
  endif()
  file(READ ${f} head LIMIT 4096)
  if(NOT "/${rel}" MATCHES "${source_name}" AND NOT rel MATCHES "^dist/"
      AND NOT head MATCHES "^#!")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  # The first lines only; a match further down does not count.
  string(REGEX MATCH "${first_lines}" top "${head}")
  string(FIND "${top}" "${tag}" at)
  if(at EQUAL -1)
    list(APPEND offenders ${rel})
  endif()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no source files found below ${SOURCE}")
endif()
if(offenders)
  list(LENGTH offenders n)
  list(SORT offenders)
  string(REPLACE ";" "\n  " offenders "${offenders}")
  message(FATAL_ERROR "${n} of ${checked} source files lack "
    "\"${tag}\" in their first ${lines} lines:\n  ${offenders}")
endif()
message(STATUS "${checked} source files carry the license line")
