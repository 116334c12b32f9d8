/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the service of a process from its control group, and the jail
 * queries: there are no jails here, every process sees the system's own
 * root.
 */
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "backend.h"
#include "cgroup.h"

/* Room for the cgroup file: a dozen hierarchies with long paths. */
#define CGROUP_BUFSIZE	16384

/*
 * The whole cgroup file of the process examined into buf, at most size
 * bytes; its length, or -1.
 */
static ssize_t
read_cgroup(struct procstat *ps, char *buf, size_t size)
{
	size_t len;
	ssize_t n;
	int fd;

	fd = openat(ps->filedir, "cgroup", O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	len = 0;
	do {
		n = read(fd, buf + len, size - len);
		if (n > 0)
			len += (size_t)n;
	} while ((n > 0 && len < size) || (n == -1 && errno == EINTR));
	close_keep_errno(fd);
	return (n == -1 ? -1 : (ssize_t)len);
}

int
proc_service(struct procstat *ps, const struct kinfo_proc *kp, char *buf,
    size_t size)
{
	char text[CGROUP_BUFSIZE];
	ssize_t n;
	int kind;

	if (size > 0)
		buf[0] = '\0';
	if (select_process(ps, kp) == -1)
		return (SERVICE_NONE);
	n = read_cgroup(ps, text, sizeof(text));
	if (n <= 0)
		return (SERVICE_NONE);
	kind = cgroup_service(text, (size_t)n, buf, size);
	/* Not the process listed: its id was taken meanwhile. */
	if (kind != SERVICE_NONE && same_process(ps) == -1) {
		buf[0] = '\0';
		return (SERVICE_NONE);
	}
	return (kind);
}

int
proc_jail_root(struct procstat *ps, const struct kinfo_proc *kp, char *buf,
    size_t size)
{
	/* Linux has no jails: every process sees the system's root. */
	(void)ps;
	(void)kp;
	if (size > 0)
		buf[0] = '\0';
	return (0);
}

int
jail_getid(const char *name)
{
	/* Linux has no jails. */
	(void)name;
	return (-1);
}
