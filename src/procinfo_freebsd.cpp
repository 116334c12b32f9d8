/*
 * FreeBSD: libprocstat, libjail and the process sysctls do all the work.
 */
#include <signal.h>

#include "procinfo.h"

int
proc_query(struct procstat *ps, int what, pid_t pid, char *buf, size_t *len)
{
	int mib[4] = { CTL_KERN, KERN_PROC, what, (int)pid };

	(void)ps;
	return (sysctl(mib, 4, buf, len, NULL, 0));
}

int
proc_probe(struct procstat *ps, pid_t pid)
{
	(void)ps;
	return (kill(pid, 0));
}
