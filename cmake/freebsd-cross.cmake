# SPDX-License-Identifier: BSD-2-Clause
# Compiles the program for FreeBSD/amd64 on another system, with clang,
# against a tree of FreeBSD's headers and libraries (usr/include, lib):
#
#   cmake -S . -B build-freebsd --toolchain cmake/freebsd-cross.cmake \
#       -DSTALEWATCH_FREEBSD_SYSROOT=/path/to/freebsd-x86_64
#
# (or STALEWATCH_FREEBSD_SYSROOT in the environment).  Such a tree rarely
# holds every library of the base system, so the compiler's checks build
# static libraries rather than programs, and the check that compiles every
# source builds objects and static libraries only.
set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_VERSION 13)
set(CMAKE_SYSTEM_PROCESSOR amd64)

if(NOT STALEWATCH_FREEBSD_SYSROOT AND DEFINED ENV{STALEWATCH_FREEBSD_SYSROOT})
  set(STALEWATCH_FREEBSD_SYSROOT "$ENV{STALEWATCH_FREEBSD_SYSROOT}")
endif()
if(NOT STALEWATCH_FREEBSD_SYSROOT OR
    NOT EXISTS "${STALEWATCH_FREEBSD_SYSROOT}/usr/include/sys/param.h")
  message(FATAL_ERROR "STALEWATCH_FREEBSD_SYSROOT must name a tree with FreeBSD's usr/include")
endif()
# try_compile projects see the same tree.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES STALEWATCH_FREEBSD_SYSROOT)

set(CMAKE_SYSROOT "${STALEWATCH_FREEBSD_SYSROOT}")
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-unknown-freebsd13)
set(CMAKE_CXX_COMPILER_TARGET x86_64-unknown-freebsd13)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH "${STALEWATCH_FREEBSD_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
