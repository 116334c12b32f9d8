/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Services found by their pidfiles: a *.pid file in /var/run, or in a
 * folder right below it, that holds a process id.
 */
#ifndef STALEWATCH_PIDFILE_H
#define STALEWATCH_PIDFILE_H

#include <stddef.h>

#include "procinfo.h"

/* The most pidfiles remembered, of the host and the jails together. */
#define PIDFILE_MAX	1024
/* The most roots (the host's and jails') whose pidfiles are read. */
#define PIDFILE_ROOT_MAX 64

/*
 * The service of the nearest of kp's process and its ancestors below
 * process 1, as procs (count entries) gives them, whose id a pidfile of
 * its jail holds: the rc script of the pidfile's name (without .pid), or
 * of its folder's, when one exists, else the pidfile's name.  The name
 * into buf (size bytes) and SERVICE_RC; SERVICE_NONE with buf empty
 * when no pidfile names one.  The pidfiles of a root are read when a
 * process of it first asks, and each once per run; a pidfile that
 * cannot be read names nothing.
 */
int pidfile_service(struct procstat *ps, const struct kinfo_proc *kp,
    const struct kinfo_proc *procs, unsigned int count, char *buf,
    size_t size);

#endif
