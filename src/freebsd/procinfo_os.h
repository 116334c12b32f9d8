/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: the records, constants and calls are the system's own.
 */
#ifndef STALEWATCH_PROCINFO_OS_H
#define STALEWATCH_PROCINFO_OS_H

#include <sys/param.h>
#include <sys/queue.h>
#include <sys/socket.h>
#include <sys/sysctl.h>
#include <sys/user.h>
#include <libprocstat.h>
#include <jail.h>

#endif
