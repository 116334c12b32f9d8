/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: the root directory of a process is that of its jail (a
 * process outside any jail has the system's), and the kernel records
 * when it started.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include "procinfo.h"

int
proc_root_path(struct procstat *ps, const struct kinfo_proc *kp, char *buf,
    size_t size)
{
	if (size < 2)
		return (-1);
	if (proc_jail_root(ps, kp, buf, size) == -1)
		return (-1);
	/* The system's root: the jail's files need no prefix. */
	if (buf[0] == '\0')
		snprintf(buf, size, "/");
	return (0);
}

int
proc_open_root(struct procstat *ps, const struct kinfo_proc *kp)
{
	char path[MAXPATHLEN];

	if (proc_root_path(ps, kp, path, sizeof(path)) == -1) {
		errno = ESRCH;
		return (-1);
	}
	return (open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

int
proc_start_time(struct procstat *ps, const struct kinfo_proc *kp,
    struct timespec *ts)
{
	(void)ps;
	if (kp->ki_start.tv_sec == 0)
		return (-1);
	ts->tv_sec = kp->ki_start.tv_sec;
	ts->tv_nsec = (long)kp->ki_start.tv_usec * 1000;
	return (0);
}

const char *
proc_open_error(int err)
{
	/* The system's text says it: the sysctls are always there. */
	(void)err;
	return (NULL);
}
