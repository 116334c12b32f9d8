/*
 * FreeBSD: libprocstat, libjail and the process sysctls do all the work.
 */
#include <signal.h>

#include "procinfo.h"

int
proc_query(int what, pid_t pid, char *buf, size_t *len)
{
	int mib[4] = { CTL_KERN, KERN_PROC, what, (int)pid };

	return (sysctl(mib, 4, buf, len, NULL, 0));
}

int
proc_probe(pid_t pid)
{
	return (kill(pid, 0));
}
