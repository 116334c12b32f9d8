/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: the system records no service of a process (rc scripts leave
 * pidfiles, which the core reads); the root of a jail is its "path"
 * parameter, from libjail.
 */
#include <stdio.h>

#include "procinfo.h"

int
proc_service(struct procstat *ps, const struct kinfo_proc *kp, char *buf,
    size_t size)
{
	(void)ps;
	(void)kp;
	if (size > 0)
		buf[0] = '\0';
	return (SERVICE_NONE);
}

int
proc_jail_root(struct procstat *ps, const struct kinfo_proc *kp, char *buf,
    size_t size)
{
	char jid[16], path[MAXPATHLEN];

	(void)ps;
	if (size > 0)
		buf[0] = '\0';
	if (kp->ki_jid == 0)
		return (0);
	snprintf(jid, sizeof(jid), "%d", (int)kp->ki_jid);
	path[0] = '\0';
	if (jail_getv(0, "jid", jid, "path", path, (char *)NULL) == -1)
		return (-1);
	/* The root of the host is "/": its files need no prefix. */
	if (path[0] == '/' && path[1] == '\0')
		path[0] = '\0';
	if ((size_t)snprintf(buf, size, "%s", path) >= size) {
		buf[0] = '\0';
		return (-1);
	}
	return (0);
}
