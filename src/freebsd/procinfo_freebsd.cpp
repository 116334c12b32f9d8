/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: libprocstat, libjail and the process sysctls do all the work.
 */
#include <sys/types.h>
#include <sys/time.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "procinfo.h"
#include "starttime.h"

int
proc_query(struct procstat *ps, int what, const struct kinfo_proc *kp,
    char *buf, size_t *len)
{
	int mib[4] = { CTL_KERN, KERN_PROC, what, (int)kp->ki_pid };

	(void)ps;
	return (sysctl(mib, 4, buf, len, NULL, 0));
}

/* The boot time, from which the kernel counts start dates; 0, or -1. */
static int
boot_time(struct timeval *tv)
{
	int mib[2] = { CTL_KERN, KERN_BOOTTIME };
	size_t len = sizeof(*tv);

	if (sysctl(mib, 2, tv, &len, NULL, 0) == -1 || len != sizeof(*tv))
		return (-1);
	return (0);
}

/* The boot time before and after the list was made, if known. */
static struct timeval listed_boot[2];
static bool have_listed_boot;

struct kinfo_proc *
proc_list(struct procstat *ps, unsigned int *count)
{
	struct kinfo_proc *procs;
	int saved;

	have_listed_boot = boot_time(&listed_boot[0]) == 0;
	procs = procstat_getprocs(ps, KERN_PROC_PROC, 0, count);
	saved = errno;
	if (have_listed_boot && boot_time(&listed_boot[1]) == -1)
		have_listed_boot = false;
	errno = saved;
	return (procs);
}

/*
 * The start date in the kernel's record of the process now, with the
 * boot time it was counted from, read before and after the record until
 * they agree, and its command name into comm (COMMLEN + 1 bytes): 0, or
 * -1 with errno (ESRCH: no such process is there).
 */
static int
record_now(pid_t pid, struct timeval *start, struct timeval *boot,
    bool *have_boot, char *comm)
{
	int mib[4] = { CTL_KERN, KERN_PROC, KERN_PROC_PID, (int)pid };
	struct kinfo_proc now;
	struct timeval after;
	size_t len;
	int tries;

	*have_boot = false;
	for (tries = 0; tries < 3; tries++) {
		*have_boot = boot_time(boot) == 0;
		len = sizeof(now);
		if (sysctl(mib, 4, &now, &len, NULL, 0) == -1)
			return (-1);
		if (len < sizeof(now)) {
			errno = EINVAL;
			return (-1);
		}
		*start = now.ki_start;
		memcpy(comm, now.ki_comm, COMMLEN + 1);
		if (!*have_boot || (boot_time(&after) == 0 &&
		    after.tv_sec == boot->tv_sec &&
		    after.tv_usec == boot->tv_usec))
			return (0);
	}
	*have_boot = false;
	return (0);
}

/*
 * kill(pid, 0) says whether some process has the id; its start time says
 * whether it is still the one listed (starttime.cpp), and its command
 * name whether it still runs the program it ran then (exec gives it the
 * new one's).
 */
int
proc_probe(struct procstat *ps, struct kinfo_proc *kp, char *args,
    size_t *argslen)
{
	char comm[COMMLEN + 1];
	struct sighting now;
	struct timeval boot;
	bool have_boot;

	(void)ps;
	(void)args;
	*argslen = 0;
	comm[0] = '\0';
	memset(&now, 0, sizeof(now));
	now.kill_errno = kill(kp->ki_pid, 0) == -1 ? errno : 0;
	if (now.kill_errno != ESRCH) {
		if (record_now(kp->ki_pid, &now.start, &boot, &have_boot,
		    comm) == -1) {
			now.record_errno = errno;
			comm[0] = '\0';
		} else if (have_boot)
			now.boot = &boot;
	}
	if (still_listed(&kp->ki_start, have_listed_boot ? listed_boot :
	    NULL, &now) == -1)
		return (-1);
	if (comm[0] != '\0' &&
	    strncmp(comm, kp->ki_comm, sizeof(kp->ki_comm)) != 0) {
		memcpy(kp->ki_comm, comm, sizeof(kp->ki_comm));
		return (PROBE_NEW_PROGRAM);
	}
	return (0);
}

/*
 * With security.bsd.see_other_uids (or _gids) at 0, the process list
 * leaves out the processes of other users; the superuser sees them all.
 */
const char *
proc_hidden(struct procstat *ps)
{
	static const char *names[] = {
		"security.bsd.see_other_uids",
		"security.bsd.see_other_gids",
	};
	static char cause[64];
	size_t len, i;
	int value;

	(void)ps;
	if (geteuid() == 0)
		return (NULL);
	for (i = 0; i < sizeof(names) / sizeof(names[0]); i++) {
		len = sizeof(value);
		if (sysctlbyname(names[i], &value, &len, NULL, 0) == 0 &&
		    value == 0) {
			snprintf(cause, sizeof(cause), "%s is 0", names[i]);
			return (cause);
		}
	}
	return (NULL);
}
