/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: libprocstat, libjail and the process sysctls do all the work.
 */
#include <sys/types.h>
#include <elf-hints.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "procinfo.h"

int
proc_query(struct procstat *ps, int what, const struct kinfo_proc *kp,
    char *buf, size_t *len)
{
	int mib[4] = { CTL_KERN, KERN_PROC, what, (int)kp->ki_pid };

	(void)ps;
	return (sysctl(mib, 4, buf, len, NULL, 0));
}

/*
 * kill(pid, 0) says whether some process has the id; its start time says
 * whether it is still the one listed, and its command name whether it
 * still runs the program it ran then (exec gives it the new one's).  A
 * process the caller may signal but not see (it left the caller's view)
 * counts as still there.
 */
int
proc_probe(struct procstat *ps, struct kinfo_proc *kp, char *args,
    size_t *argslen)
{
	int mib[4] = { CTL_KERN, KERN_PROC, KERN_PROC_PID, (int)kp->ki_pid };
	struct kinfo_proc now;
	size_t len;

	(void)ps;
	(void)args;
	*argslen = 0;
	if (kill(kp->ki_pid, 0) == -1 && errno == ESRCH)
		return (-1);
	len = sizeof(now);
	if (sysctl(mib, 4, &now, &len, NULL, 0) == -1 || len < sizeof(now))
		return (0);
	if (now.ki_start.tv_sec != kp->ki_start.tv_sec ||
	    now.ki_start.tv_usec != kp->ki_start.tv_usec) {
		errno = ESRCH;
		return (-1);
	}
	if (strncmp(now.ki_comm, kp->ki_comm, sizeof(kp->ki_comm)) != 0) {
		memcpy(kp->ki_comm, now.ki_comm, sizeof(kp->ki_comm));
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

/* The directories the runtime linker was told of (ldconfig -r). */
static size_t
hinted_dirs(char *buf, size_t size)
{
	struct elfhints_hdr hdr;
	ssize_t n;
	int fd;

	fd = open(_PATH_ELF_HINTS, O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return (0);
	n = -1;
	if (read(fd, &hdr, sizeof(hdr)) == (ssize_t)sizeof(hdr) &&
	    hdr.magic == ELFHINTS_MAGIC && hdr.dirlistlen < size)
		n = pread(fd, buf, hdr.dirlistlen,
		    (off_t)hdr.strtab + hdr.dirlist);
	close(fd);
	if (n != (ssize_t)hdr.dirlistlen)
		return (0);
	buf[n] = '\0';
	return ((size_t)n);
}

/*
 * The name of a mapped file comes from the name cache, which can lose it
 * while the file is still there: the library directories are where to
 * look for it.
 */
const char *const *
proc_library_dirs(struct procstat *ps)
{
	static char hints[4096];
	static const char *dirs[64] = { "/lib", "/usr/lib", "/usr/local/lib" };
	size_t n = 3;
	char *p, *next;

	(void)ps;
	if (hinted_dirs(hints, sizeof(hints)) > 0)
		for (p = hints; p != NULL && n < 63; p = next) {
			next = strchr(p, ':');
			if (next != NULL)
				*next++ = '\0';
			if (*p == '/')
				dirs[n++] = p;
		}
	dirs[n] = NULL;
	return (dirs);
}
