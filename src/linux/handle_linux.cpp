/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the handle, and the directory of the process examined.
 *
 * Every answer comes from the /proc that procstat_open_sysctl() opened,
 * never from the caller's own PID namespace: a program started in a
 * child namespace that still sees its parent's /proc examines exactly
 * the processes it listed.  The queries about one process go through one
 * descriptor of its /proc directory, which the handle keeps until a query
 * names another process.  Should the process exit and its id be reused
 * meanwhile, the descriptor still refers to the old process and its reads
 * fail; should the id have been reused before the descriptor was opened,
 * the start time read through it tells (same_process), so the files of
 * two processes are never mixed in one answer.
 */
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/vfs.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "backend.h"

/* What statfs(2) says of a proc file system. */
#define PROC_SUPER_MAGIC	0x9fa0

int
gone_if_missing(void)
{
	if (errno == ENOENT)
		errno = ESRCH;
	return (-1);
}

ssize_t
read_proc_file(struct procstat *ps, int dirfd, const char *path, char *buf,
    size_t size, int how)
{
	struct iovec iov[2];
	char extra;
	size_t len;
	ssize_t n;
	int fd, saved;

	fd = openat(dirfd, path, O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	len = 0;
	do {
		if ((how & READ_ONE_MORE) != 0) {
			iov[0].iov_base = buf;
			iov[0].iov_len = size;
			iov[1].iov_base = &extra;
			iov[1].iov_len = 1;
			n = readv(fd, iov, 2);
		} else
			n = read(fd, buf + len, size - len);
		if (n > 0)
			len += (size_t)n;
	} while ((n == -1 && errno == EINTR) ||
	    ((how & READ_TO_END) != 0 && n > 0 && len < size));
	if ((how & READ_CLOSE_SOON) != 0) {
		saved = errno;
		close_soon(ps, fd);
		errno = saved;
	} else
		close_keep_errno(fd);
	return (n == -1 ? -1 : (ssize_t)len);
}

/*
 * The descriptors of processes done with wait to be closed together
 * (close_soon) only below this number, so that the ones the run opens
 * meanwhile always find room under the limit of open files.
 */
static int
wait_below(void)
{
	struct rlimit rl;

	if (getrlimit(RLIMIT_NOFILE, &rl) == -1)
		return (0);
	if (rl.rlim_cur == RLIM_INFINITY || rl.rlim_cur > INT_MAX)
		return (INT_MAX - 64);
	return (rl.rlim_cur > 2 * 64 ? (int)rl.rlim_cur - 64 : 0);
}

struct procstat *
procstat_open_sysctl(void)
{
	struct procstat *ps;
	struct statfs sf;
	int fd;

	fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1)
		return (NULL);
	/* An empty directory (a chroot without /proc) would list nothing. */
	if (fstatfs(fd, &sf) == -1 || sf.f_type != PROC_SUPER_MAGIC) {
		close(fd);
		errno = ENOENT;
		return (NULL);
	}
	ps = (struct procstat *)calloc(1, sizeof(*ps));
	if (ps == NULL) {
		close(fd);
		return (NULL);
	}
	ps->procfd = fd;
	ps->piddir = -1;
	ps->filedir = -1;
	ps->mapsfd = -1;
	ps->waitlo = ps->waithi = -1;
	ps->waitbelow = wait_below();
	return (ps);
}

int
maps_file(struct procstat *ps)
{
	if (ps->mapsfd != -1)
		return (ps->mapsfd);
	ps->mapsfd = openat(ps->filedir, "maps", O_RDONLY | O_CLOEXEC);
	if (ps->mapsfd == -1)
		return (gone_if_missing());
	return (ps->mapsfd);
}

void
close_maps_file(struct procstat *ps)
{
	if (ps->mapsfd != -1)
		close_keep_errno(ps->mapsfd);
	ps->mapsfd = -1;
}

/*
 * Each close is a system call that costs about as much as the query of
 * one mapping, and a run would make two or three for every process.  So
 * the descriptors of processes done with wait in the handle while their
 * numbers follow one another (the kernel hands out the lowest free
 * number), and one close_range(2) closes them together.
 */
#define CLOSE_BATCH	32

/* Closes the descriptors that wait in the handle. */
static void
close_waiting(struct procstat *ps)
{
	int fd;

	if (ps->waitlo == -1)
		return;
#ifdef SYS_close_range
	if (ps->waithi == ps->waitlo || syscall(SYS_close_range,
	    (unsigned int)ps->waitlo, (unsigned int)ps->waithi, 0) == -1)
#endif
		for (fd = ps->waitlo; fd <= ps->waithi; fd++)
			close(fd);
	ps->waitlo = ps->waithi = -1;
}

void
close_soon(struct procstat *ps, int fd)
{
	if (fd == -1)
		return;
	if (fd >= ps->waitbelow) {
		close(fd);
		return;
	}
	if (ps->waitlo != -1 && fd == ps->waithi + 1 &&
	    fd - ps->waitlo < CLOSE_BATCH) {
		ps->waithi = fd;
		return;
	}
	close_waiting(ps);
	ps->waitlo = ps->waithi = fd;
}

/* Lets go of what the handle holds of the process examined last. */
static void
release_process(struct procstat *ps)
{
	close_soon(ps, ps->piddir);
	if (ps->filedir != ps->piddir)
		close_soon(ps, ps->filedir);
	close_soon(ps, ps->mapsfd);
	ps->pid = 0;
	ps->piddir = -1;
	ps->filedir = -1;
	ps->mapsfd = -1;
}

void
procstat_close(struct procstat *ps)
{
	release_process(ps);
	close_waiting(ps);
	close(ps->procfd);
	free(ps->pool);
	free(ps);
}

int
select_process(struct procstat *ps, const struct kinfo_proc *kp)
{
	char name[16];
	int fd;

	if (ps->piddir != -1 && ps->pid == kp->ki_pid &&
	    ps->starttime == kp->ki_starttime)
		return (0);
	release_process(ps);
	if (kp->ki_pid <= 0) {
		errno = ESRCH;
		return (-1);
	}
	snprintf(name, sizeof(name), "%d", (int)kp->ki_pid);
	fd = openat(ps->procfd, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1)
		return (gone_if_missing());
	ps->pid = kp->ki_pid;
	ps->starttime = kp->ki_starttime;
	ps->piddir = fd;
	ps->filedir = fd;
	return (0);
}

int
same_process(struct procstat *ps)
{
	return (same_program(ps, NULL));
}

int
same_program(struct procstat *ps, struct kinfo_proc *kp)
{
	struct stat_line sl;
	char buf[1024];
	ssize_t n;
	size_t len;

	n = read_proc_file(ps, ps->piddir, "stat", buf, sizeof(buf), READ_ONCE);
	if (n == -1 && errno != ENOENT && errno != ESRCH)
		return (-1);
	if (n <= 0 || !parse_stat(buf, (size_t)n, &sl) ||
	    sl.starttime != ps->starttime) {
		errno = ESRCH;
		return (-1);
	}
	if (kp == NULL)
		return (0);
	/* Cut as the list cuts it. */
	len = sl.commlen < COMMLEN ? sl.commlen : COMMLEN;
	if (memcmp(kp->ki_comm, sl.comm, len) == 0 && kp->ki_comm[len] == '\0')
		return (0);
	memcpy(kp->ki_comm, sl.comm, len);
	kp->ki_comm[len] = '\0';
	return (PROBE_NEW_PROGRAM);
}

bool
is_pid_name(const char *name)
{
	if (*name == '\0')
		return (false);
	for (; *name != '\0'; name++)
		if (*name < '0' || *name > '9')
			return (false);
	return (true);
}

ssize_t
use_live_thread(struct procstat *ps, char *link, size_t size)
{
	struct dirent *de;
	struct stat st;
	ssize_t n;
	DIR *dir;
	int fd;

	if (ps->filedir != ps->piddir) {
		errno = ESRCH;
		return (-1);
	}
	/* Its links are 2 and one per thread, the leader's included. */
	if (fstatat(ps->piddir, "task", &st, 0) == -1 || st.st_nlink <= 3) {
		errno = ESRCH;
		return (-1);
	}
	fd = openat(ps->piddir, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	dir = fdopendir(fd);
	if (dir == NULL) {
		close_keep_errno(fd);
		return (-1);
	}
	n = -1;
	while ((de = readdir(dir)) != NULL) {
		if (!is_pid_name(de->d_name) ||
		    strtol(de->d_name, NULL, 10) == (long)ps->pid)
			continue;
		fd = openat(dirfd(dir), de->d_name,
		    O_PATH | O_DIRECTORY | O_CLOEXEC);
		if (fd == -1)
			continue;
		n = readlinkat(fd, "exe", link, size);
		if (n != -1) {
			close_maps_file(ps);
			ps->filedir = fd;
			break;
		}
		close(fd);
	}
	closedir(dir);
	if (n == -1)
		errno = ESRCH;
	return (n);
}
