/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the root directory of a process (/proc/PID/root, which a chroot
 * or a container changes), when it started by the clock, and what a
 * failure to open /proc means.
 */
#include <sys/stat.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "backend.h"

#define NSEC_PER_SEC	1000000000LL

int
proc_root_path(struct procstat *ps, const struct kinfo_proc *kp, char *buf,
    size_t size)
{
	ssize_t n;

	if (size == 0)
		return (-1);
	buf[0] = '\0';
	if (select_process(ps, kp) == -1)
		return (-1);
	n = readlinkat(ps->piddir, "root", buf, size);
	if (n <= 0 || (size_t)n >= size || same_process(ps) == -1) {
		buf[0] = '\0';
		return (-1);
	}
	buf[n] = '\0';
	return (0);
}

/*
 * Whether the process examined is in the PID namespace whose ids the
 * list holds: its status has one id in its NSpid line, that of the
 * namespace of the /proc we read (a kernel without the line has no
 * nested namespaces).
 */
static bool
same_pid_namespace(struct procstat *ps)
{
	char buf[4096];
	const char *line, *end, *p;
	ssize_t n;
	int ids;

	n = read_proc_file(ps, ps->piddir, "status", buf, sizeof(buf) - 1,
	    READ_ONCE);
	if (n <= 0)
		return (false);
	buf[n] = '\0';
	line = strstr(buf, "\nNSpid:");
	if (line == NULL)
		return (true);
	line += strlen("\nNSpid:");
	end = strchr(line, '\n');
	if (end == NULL)
		return (false);
	ids = 0;
	for (p = line; p < end; p++)
		if (*p >= '0' && *p <= '9' && (p == line || p[-1] == ' ' ||
		    p[-1] == '\t'))
			ids++;
	return (ids == 1);
}

int
proc_open_root(struct procstat *ps, const struct kinfo_proc *kp)
{
	int fd;

	if (select_process(ps, kp) == -1)
		return (-1);
	if (!same_pid_namespace(ps)) {
		errno = EXDEV;
		return (-1);
	}
	fd = openat(ps->piddir, "root", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	if (same_process(ps) == -1) {
		close_keep_errno(fd);
		return (-1);
	}
	return (fd);
}

/*
 * When the system booted, by the clock, in nanoseconds: the start times
 * of /proc count clock ticks from then, suspended time included.
 */
static int64_t
boot_time(void)
{
	static int64_t boot;
	struct timespec now, up;

	if (boot == 0 && clock_gettime(CLOCK_REALTIME, &now) == 0 &&
	    clock_gettime(CLOCK_BOOTTIME, &up) == 0)
		boot = (now.tv_sec - up.tv_sec) * NSEC_PER_SEC +
		    (now.tv_nsec - up.tv_nsec);
	return (boot);
}

int
proc_start_time(struct procstat *ps, const struct kinfo_proc *kp,
    struct timespec *ts)
{
	long hz;
	int64_t t;

	(void)ps;
	hz = sysconf(_SC_CLK_TCK);
	if (hz <= 0 || kp->ki_starttime == 0 || boot_time() == 0)
		return (-1);
	t = boot_time() + (int64_t)(kp->ki_starttime / (unsigned long)hz) *
	    NSEC_PER_SEC + (int64_t)(kp->ki_starttime % (unsigned long)hz) *
	    NSEC_PER_SEC / hz;
	ts->tv_sec = (time_t)(t / NSEC_PER_SEC);
	ts->tv_nsec = (long)(t % NSEC_PER_SEC);
	return (0);
}

const char *
proc_open_error(int err)
{
	/* No /proc, or an empty folder there (procstat_open_sysctl). */
	return (err == ENOENT ? "/proc is not mounted" : NULL);
}
