/*
 * Linux: the process queries answered from /proc.
 */
#include <sys/stat.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "compat.h"
#include "linux_parse.h"
#include "procinfo.h"

struct procstat {
	int procfd;			/* /proc */
};

/*
 * Reads from fd until size bytes are in or the file ends; the number of
 * bytes read, or -1 with errno set.
 */
static ssize_t
read_full(int fd, char *buf, size_t size)
{
	size_t total = 0;
	ssize_t n;

	while (total < size) {
		n = read(fd, buf + total, size - total);
		if (n == -1) {
			if (errno == EINTR)
				continue;
			return (-1);
		}
		if (n == 0)
			break;
		total += (size_t)n;
	}
	return ((ssize_t)total);
}

/* Reads a small /proc file whole, NUL-terminated; its length, or -1. */
static ssize_t
read_small(int dirfd, const char *path, char *buf, size_t size)
{
	ssize_t total;
	int fd, saved;

	fd = openat(dirfd, path, O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	total = read_full(fd, buf, size - 1);
	saved = errno;
	close(fd);
	if (total == -1) {
		errno = saved;
		return (-1);
	}
	buf[total] = '\0';
	return (total);
}

struct procstat *
procstat_open_sysctl(void)
{
	struct procstat *ps;
	int fd;

	fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1)
		return (NULL);
	ps = (struct procstat *)malloc(sizeof(*ps));
	if (ps == NULL) {
		close(fd);
		return (NULL);
	}
	ps->procfd = fd;
	return (ps);
}

void
procstat_close(struct procstat *ps)
{
	close(ps->procfd);
	free(ps);
}

static bool
is_pid_name(const char *name)
{
	if (*name == '\0')
		return (false);
	for (; *name != '\0'; name++)
		if (*name < '0' || *name > '9')
			return (false);
	return (true);
}

/* Fills kp for one process; false if it vanished or cannot be read. */
static bool
read_process(int procfd, const char *pid, struct kinfo_proc *kp)
{
	char path[32], buf[4096];
	ssize_t n;

	kp->ki_pid = (pid_t)strtol(pid, NULL, 10);
	kp->ki_jid = 0;

	snprintf(path, sizeof(path), "%s/stat", pid);
	n = read_small(procfd, path, buf, sizeof(buf));
	if (n <= 0 || !parse_stat(buf, (size_t)n, &kp->ki_ppid, &kp->ki_pgid))
		return (false);

	snprintf(path, sizeof(path), "%s/status", pid);
	n = read_small(procfd, path, buf, sizeof(buf));
	if (n <= 0 || !parse_status_euid(buf, (size_t)n, &kp->ki_uid))
		return (false);

	snprintf(path, sizeof(path), "%s/comm", pid);
	n = read_small(procfd, path, buf, sizeof(buf));
	if (n < 0)
		return (false);
	if (n > 0 && buf[n - 1] == '\n')
		buf[--n] = '\0';
	if ((size_t)n > COMMLEN)
		n = COMMLEN;
	memcpy(kp->ki_comm, buf, (size_t)n);
	kp->ki_comm[n] = '\0';
	return (true);
}

struct kinfo_proc *
procstat_getprocs(struct procstat *ps, int what, int arg, unsigned int *count)
{
	struct kinfo_proc *procs, *grown;
	struct dirent *de;
	size_t n, cap;
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
		saved = errno;
		close(fd);
		errno = saved;
		return (NULL);
	}
	n = 0;
	cap = 256;
	procs = (struct kinfo_proc *)malloc(cap * sizeof(*procs));
	if (procs == NULL) {
		closedir(dir);
		errno = ENOMEM;
		return (NULL);
	}
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
				closedir(dir);
				errno = ENOMEM;
				return (NULL);
			}
			procs = grown;
			cap *= 2;
		}
		if (read_process(ps->procfd, de->d_name, &procs[n]))
			n++;
	}
	saved = errno;
	closedir(dir);
	if (saved != 0) {
		free(procs);
		errno = saved;
		return (NULL);
	}
	*count = (unsigned int)n;
	return (procs);
}

void
procstat_freeprocs(struct procstat *ps, struct kinfo_proc *procs)
{
	(void)ps;
	free(procs);
}

/*
 * Stores text (with its NUL) into buf as a sysctl would: as much as fits,
 * and ENOMEM with *len the number of bytes stored when it does not all fit.
 */
static int
store(const char *text, size_t textlen, char *buf, size_t *len)
{
	if (textlen + 1 > *len) {
		memcpy(buf, text, *len);
		errno = ENOMEM;
		return (-1);
	}
	memcpy(buf, text, textlen);
	buf[textlen] = '\0';
	*len = textlen + 1;
	return (0);
}

/*
 * Whether the executable behind /proc/PID/exe can still be named.  The
 * kernel appends " (deleted)" to the name of an unlinked file, but a file
 * may really be called that, so decide from the file itself: gone when it
 * has no links left, or when its name no longer leads to it (another
 * link may keep it alive under a name the kernel does not know).
 */
static bool
exe_named(const char *link, size_t linklen, const struct stat *exe)
{
	struct stat st;

	if (!has_deleted_suffix(link, linklen))
		return (true);
	if (exe->st_nlink == 0)
		return (false);
	return (stat(link, &st) == 0 && st.st_dev == exe->st_dev &&
	    st.st_ino == exe->st_ino);
}

static int
query_pathname(pid_t pid, char *buf, size_t *len)
{
	char path[32], link[PATH_MAX + sizeof(DELETED_SUFFIX)];
	struct stat exe;
	ssize_t n;

	snprintf(path, sizeof(path), "/proc/%d/exe", (int)pid);
	n = readlink(path, link, sizeof(link) - 1);
	if (n == -1) {
		/* No executable: a kernel thread, a zombie, or gone. */
		if (errno == ENOENT)
			errno = ESRCH;
		return (-1);
	}
	link[n] = '\0';
	/*
	 * An executable that never was a file on disk (memfd) cannot have
	 * been replaced by an upgrade.
	 */
	if (link[0] != '/' || strncmp(link, "/memfd:", 7) == 0) {
		errno = EINVAL;
		return (-1);
	}
	if (stat(path, &exe) == -1) {
		if (errno == ENOENT)
			errno = ESRCH;
		return (-1);
	}
	if (!exe_named(link, (size_t)n, &exe)) {
		errno = ENOENT;
		return (-1);
	}
	return (store(link, (size_t)n, buf, len));
}

static int
query_args(pid_t pid, char *buf, size_t *len)
{
	char path[32], extra;
	ssize_t total, more;
	int fd, saved;

	snprintf(path, sizeof(path), "/proc/%d/cmdline", (int)pid);
	fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd == -1) {
		if (errno == ENOENT)
			errno = ESRCH;
		return (-1);
	}
	total = read_full(fd, buf, *len);
	/* A full buffer: is there more than fitted? */
	more = total == (ssize_t)*len ? read_full(fd, &extra, 1) : 0;
	saved = errno;
	close(fd);
	if (total == -1 || more == -1) {
		errno = saved;
		return (-1);
	}
	if (more == 1) {
		errno = ENOMEM;
		return (-1);
	}
	*len = (size_t)total;
	return (0);
}

int
proc_query(int what, pid_t pid, char *buf, size_t *len)
{
	switch (what) {
	case KERN_PROC_PATHNAME:
		return (query_pathname(pid, buf, len));
	case KERN_PROC_ARGS:
		return (query_args(pid, buf, len));
	}
	errno = EINVAL;
	return (-1);
}

int
proc_probe(pid_t pid)
{
	return (kill(pid, 0));
}

/*
 * A mapped file whose name the kernel marks deleted has an empty path,
 * unless the file really carries that name.
 */
static void
set_vmentry(struct kinfo_vmentry *kve, const struct maps_line *ml)
{
	struct stat st;
	size_t n;

	kve->kve_protection = ml->protection;
	if (!maps_is_file(ml)) {
		kve->kve_type = ml->pathlen == 0 ? KVME_TYPE_DEFAULT :
		    ml->path[0] == '/' ? KVME_TYPE_SWAP : KVME_TYPE_UNKNOWN;
		kve->kve_path[0] = '\0';
		return;
	}
	kve->kve_type = KVME_TYPE_VNODE;
	n = ml->pathlen < sizeof(kve->kve_path) - 1 ? ml->pathlen :
	    sizeof(kve->kve_path) - 1;
	memcpy(kve->kve_path, ml->path, n);
	kve->kve_path[n] = '\0';
	if (has_deleted_suffix(ml->path, ml->pathlen) &&
	    (n != ml->pathlen || stat(kve->kve_path, &st) == -1 ||
	    (unsigned long long)st.st_ino != ml->inode))
		kve->kve_path[0] = '\0';
}

/* Appends the entry for one maps line to *map; false when out of memory. */
static bool
add_vmentry(struct kinfo_vmentry **map, size_t *n, size_t *cap,
    const char *line, size_t len)
{
	struct kinfo_vmentry *grown;
	struct maps_line ml;

	if (!parse_maps_line(line, len, &ml))
		return (true);
	if (*n == *cap) {
		grown = (struct kinfo_vmentry *)realloc(*map,
		    2 * *cap * sizeof(**map));
		if (grown == NULL)
			return (false);
		*map = grown;
		*cap *= 2;
	}
	set_vmentry(&(*map)[(*n)++], &ml);
	return (true);
}

struct kinfo_vmentry *
procstat_getvmmap(struct procstat *ps, struct kinfo_proc *kp,
    unsigned int *count)
{
	char path[32], buf[16384];
	struct kinfo_vmentry *map;
	size_t have, cap, n, start, linelen;
	const char *nl;
	ssize_t got;
	int fd, saved;
	bool eof, skipping;

	snprintf(path, sizeof(path), "%d/maps", (int)kp->ki_pid);
	fd = openat(ps->procfd, path, O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return (NULL);
	n = 0;
	cap = 64;
	map = (struct kinfo_vmentry *)malloc(cap * sizeof(*map));
	if (map == NULL)
		goto fail;
	have = 0;
	skipping = false;
	eof = false;
	do {
		got = read(fd, buf + have, sizeof(buf) - have);
		if (got == -1) {
			if (errno == EINTR)
				continue;
			goto fail;
		}
		eof = got == 0;
		have += (size_t)got;
		start = 0;
		while (start < have) {
			nl = (const char *)memchr(buf + start, '\n',
			    have - start);
			if (nl == NULL && !eof && (start > 0 || have < sizeof(buf)))
				break;	/* the rest of the line is still to come */
			linelen = (nl != NULL ? (size_t)(nl - buf) : have) - start;
			if (!skipping && !add_vmentry(&map, &n, &cap,
			    buf + start, linelen)) {
				errno = ENOMEM;
				goto fail;
			}
			/* A line longer than the buffer: drop what follows. */
			skipping = nl == NULL && !eof;
			start += linelen + (nl != NULL ? 1 : 0);
		}
		memmove(buf, buf + start, have - start);
		have -= start;
	} while (!eof);
	close(fd);
	*count = (unsigned int)n;
	return (map);
fail:
	saved = errno;
	free(map);
	close(fd);
	errno = saved;
	return (NULL);
}

void
procstat_freevmmap(struct procstat *ps, struct kinfo_vmentry *vmmap)
{
	(void)ps;
	free(vmmap);
}

int
jail_getid(const char *name)
{
	/* Linux has no jails. */
	(void)name;
	return (-1);
}

const char *
getprogname(void)
{
	/* glibc and musl keep the invocation name for us. */
	return (program_invocation_short_name);
}
