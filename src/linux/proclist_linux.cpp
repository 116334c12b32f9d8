/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the process list, from the directories of /proc, and why it may
 * lack the processes of other users (hidepid).
 */
#include <sys/stat.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "backend.h"

/*
 * Fills kp for one process; false if it vanished.  A process whose files
 * the caller may not read (/proc mounted with hidepid=1) is listed with
 * its id and user alone, so that selecting it by id finds it and the
 * check counts it as not examined.
 */
static bool
read_process(struct procstat *ps, const char *name, struct kinfo_proc *kp)
{
	char path[32], buf[1024];
	struct stat_line sl;
	struct stat st;
	size_t len;
	ssize_t n;
	int err;

	len = strlen(name);
	if (len + sizeof("/stat") > sizeof(path))
		return (false);
	memcpy(path, name, len);
	memcpy(path + len, "/stat", sizeof("/stat"));
	/* A list reads a thousand: the handle closes them together. */
	n = read_proc_file(ps, ps->procfd, path, buf, sizeof(buf),
	    READ_ONCE | READ_CLOSE_SOON);
	err = n == -1 ? errno : 0;
	if (err == 0 && (n <= 0 || !parse_stat(buf, (size_t)n, &sl)))
		return (false);
	if (err != 0 && err != EACCES && err != EPERM)
		return (false);
	/*
	 * /proc/PID itself belongs to the process's effective user, even
	 * when the files inside are root's because it may not be dumped.
	 * Read after the stat file: should the id be reused in between,
	 * the start time no longer matches when the process is examined.
	 */
	if (fstatat(ps->procfd, name, &st, 0) == -1)
		return (false);
	memset(kp, 0, sizeof(*kp));
	kp->ki_pid = (pid_t)strtol(name, NULL, 10);
	kp->ki_uid = st.st_uid;
	if (err != 0)
		return (true);
	kp->ki_ppid = sl.ppid;
	kp->ki_pgid = sl.pgid;
	kp->ki_sid = sl.sid;
	kp->ki_flag = (sl.flags & PF_KTHREAD) != 0 ? P_KPROC : 0;
	kp->ki_starttime = sl.starttime;
	len = sl.commlen < COMMLEN ? sl.commlen : COMMLEN;
	memcpy(kp->ki_comm, sl.comm, len);
	kp->ki_comm[len] = '\0';
	return (true);
}

/* Reads the processes of dir into a growing array; NULL on failure. */
static struct kinfo_proc *
read_processes(struct procstat *ps, DIR *dir, unsigned int *count)
{
	struct kinfo_proc *procs, *grown;
	struct dirent *de;
	size_t n, cap;
	int saved;

	n = 0;
	cap = 256;
	procs = (struct kinfo_proc *)malloc(cap * sizeof(*procs));
	if (procs == NULL)
		return (NULL);
	for (;;) {
		errno = 0;
		de = readdir(dir);
		if (de == NULL)
			break;
		if (!is_pid_name(de->d_name))
			continue;
		if (n == cap) {
			grown = (struct kinfo_proc *)realloc(procs,
			    2 * cap * sizeof(*procs));
			if (grown == NULL) {
				free(procs);
				errno = ENOMEM;
				return (NULL);
			}
			procs = grown;
			cap *= 2;
		}
		if (read_process(ps, de->d_name, &procs[n]))
			n++;
	}
	if (errno != 0) {
		saved = errno;
		free(procs);
		errno = saved;
		return (NULL);
	}
	*count = (unsigned int)n;
	return (procs);
}

struct kinfo_proc *
procstat_getprocs(struct procstat *ps, int what, int arg, unsigned int *count)
{
	struct kinfo_proc *procs;
	DIR *dir;
	int fd, saved;

	(void)arg;
	if (what != KERN_PROC_PROC) {
		errno = EINVAL;
		return (NULL);
	}
	fd = openat(ps->procfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1)
		return (NULL);
	dir = fdopendir(fd);
	if (dir == NULL) {
		close_keep_errno(fd);
		return (NULL);
	}
	procs = read_processes(ps, dir, count);
	saved = errno;
	closedir(dir);
	errno = saved;
	return (procs);
}

void
procstat_freeprocs(struct procstat *ps, struct kinfo_proc *procs)
{
	(void)ps;
	free(procs);
}

/*
 * The options of the proc file system at /proc, from the last line of
 * the mount table that mounts one there, into buf; false if none.
 */
static bool
proc_mount_options(struct procstat *ps, char *buf, size_t size)
{
	char *line = NULL, *sep, *mnt, *end;
	size_t cap = 0;
	bool found = false;
	FILE *f;
	int fd;

	fd = openat(ps->procfd, "self/mountinfo", O_RDONLY | O_CLOEXEC);
	if (fd == -1 || (f = fdopen(fd, "r")) == NULL) {
		if (fd != -1)
			close(fd);
		return (false);
	}
	while (getline(&line, &cap, f) != -1) {
		/* id parent dev root MOUNTPOINT opts ... - TYPE source SUPER */
		mnt = line;
		for (int i = 0; i < 4 && mnt != NULL; i++)
			mnt = strchr(mnt + 1, ' ');
		sep = strstr(line, " - proc ");
		if (mnt == NULL || sep == NULL || strncmp(mnt, " /proc ", 7) != 0)
			continue;
		sep = strchr(sep + 8, ' ');
		if (sep == NULL)
			continue;
		end = strchr(sep + 1, '\n');
		if (end != NULL)
			*end = '\0';
		snprintf(buf, size, "%s", sep + 1);
		found = true;
	}
	free(line);
	fclose(f);
	return (found);
}

/* Whether the caller is in the group that hidepid lets see everything. */
static bool
in_group(const char *opts)
{
	const char *g = strstr(opts, "gid=");
	gid_t groups[256];
	gid_t gid;
	int n, i;

	if (g == NULL || (g != opts && g[-1] != ','))
		return (false);
	gid = (gid_t)strtoul(g + 4, NULL, 10);
	if (getegid() == gid)
		return (true);
	n = getgroups(256, groups);
	for (i = 0; i < n; i++)
		if (groups[i] == gid)
			return (true);
	return (false);
}

const char *
proc_hidden(struct procstat *ps)
{
	static char cause[64];
	char opts[1024];
	const char *h;
	size_t n;

	if (geteuid() == 0 || !proc_mount_options(ps, opts, sizeof(opts)))
		return (NULL);
	h = strstr(opts, "hidepid=");
	if (h == NULL || (h != opts && h[-1] != ',') || in_group(opts))
		return (NULL);
	h += 8;
	n = strcspn(h, ",");
	if ((n == 1 && *h == '0') || (n == 3 && strncmp(h, "off", 3) == 0))
		return (NULL);
	snprintf(cause, sizeof(cause), "/proc is mounted with hidepid=%.*s",
	    (int)(n < 16 ? n : 16), h);
	return (cause);
}

struct kinfo_proc *
proc_list(struct procstat *ps, unsigned int *count)
{
	/* Start times are clock ticks since boot here: nothing to note. */
	return (procstat_getprocs(ps, KERN_PROC_PROC, 0, count));
}
