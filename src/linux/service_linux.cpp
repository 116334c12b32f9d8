/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the service of a process from its control group, and the jail
 * queries: there are no jails here, every process sees the system's own
 * root.
 */
#include "backend.h"
#include "cgroup.h"

/* Room for the cgroup file: a dozen hierarchies with long paths. */
#define CGROUP_BUFSIZE	16384

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
	n = read_proc_file(ps, ps->filedir, "cgroup", text, sizeof(text),
	    READ_TO_END);
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
