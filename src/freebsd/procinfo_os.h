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

/*
 * The name a mapped file that is gone last had: the kernel names mapped
 * files from its name cache, which forgets a file as it is removed.
 */
static inline const char *
gone_path_of(const struct kinfo_vmentry *kve)
{
	(void)kve;
	return (NULL);
}

/* Where the rc scripts are, whose names pidfiles may give. */
#define RC_SCRIPT_DIRS		"/etc/rc.d", "/usr/local/etc/rc.d"
/* Where daemons leave their pidfiles. */
#define PIDFILE_DIRS		"/var/run"

#endif
