/*
 * Linux: the process queries answered from /proc.
 *
 * Every answer comes from the /proc that procstat_open_sysctl() opened,
 * never from the caller's own PID namespace: a program started in a
 * child namespace that still sees its parent's /proc examines exactly
 * the processes it listed.  The queries about one process go through one
 * descriptor of its /proc directory, which the handle keeps until a query
 * names another process; should the process exit and its id be reused
 * meanwhile, the descriptor still refers to the old process, and the
 * files of two processes cannot be mixed.
 */
#include <sys/stat.h>
#include <sys/uio.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "compat.h"
#include "linux_parse.h"
#include "procinfo.h"

/* The longest name readlink can give for /proc/PID/exe. */
#define LINK_MAX_LEN	(PATH_MAX + sizeof(DELETED_SUFFIX))

/* How much of an argument block the existence probe keeps. */
#define ARGS_KEPT	4096

struct procstat {
	int procfd;			/* /proc */
	pid_t pid;			/* the process examined, 0 for none */
	int piddir;			/* its /proc/PID, or -1 */
	int filedir;			/* where its files are read: piddir, or
					   /proc/PID/task/TID of a live thread
					   when the leader has exited */
	char *pool;			/* paths of the map being read */
	size_t poolsize;
	const struct kinfo_proc *procs;	/* the list handed out, by pid */
	size_t nprocs;
	char args[ARGS_KEPT];		/* the argument block the probe read */
	ssize_t argslen;		/* its length, ARGS_KEPT + 1 when cut;
					   -1: none */
};

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

/*
 * Reads a /proc file that the kernel produces whole on the first read
 * (stat and the like): one read, no second one to see its end.  The
 * number of bytes read, or -1 with errno set.
 */
static ssize_t
read_once(int dirfd, const char *path, char *buf, size_t size)
{
	ssize_t n;
	int fd, saved;

	fd = openat(dirfd, path, O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	do
		n = read(fd, buf, size);
	while (n == -1 && errno == EINTR);
	saved = errno;
	close(fd);
	errno = saved;
	return (n);
}

struct procstat *
procstat_open_sysctl(void)
{
	struct procstat *ps;
	int fd;

	fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1)
		return (NULL);
	ps = (struct procstat *)calloc(1, sizeof(*ps));
	if (ps == NULL) {
		close(fd);
		return (NULL);
	}
	ps->procfd = fd;
	ps->piddir = -1;
	ps->filedir = -1;
	ps->argslen = -1;
	return (ps);
}

/* Closes what the handle holds of the process examined last. */
static void
release_process(struct procstat *ps)
{
	if (ps->filedir != ps->piddir)
		close(ps->filedir);
	if (ps->piddir != -1)
		close(ps->piddir);
	ps->pid = 0;
	ps->piddir = -1;
	ps->filedir = -1;
	ps->argslen = -1;
}

void
procstat_close(struct procstat *ps)
{
	release_process(ps);
	close(ps->procfd);
	free(ps->pool);
	free(ps);
}

/*
 * Makes pid the process examined, opening its /proc directory unless it
 * is open already.  0, or -1 with errno (ESRCH: it is gone).
 */
static int
select_process(struct procstat *ps, pid_t pid)
{
	char name[16];
	int fd;

	if (ps->piddir != -1 && ps->pid == pid)
		return (0);
	release_process(ps);
	if (pid <= 0) {
		errno = ESRCH;
		return (-1);
	}
	snprintf(name, sizeof(name), "%d", (int)pid);
	fd = openat(ps->procfd, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1) {
		if (errno == ENOENT)
			errno = ESRCH;
		return (-1);
	}
	ps->pid = pid;
	ps->piddir = fd;
	ps->filedir = fd;
	return (0);
}

/*
 * When the thread-group leader has exited, /proc/PID shows no executable,
 * no map and no arguments, but the other threads still run the program:
 * reads go through one of them from now on.  Its executable's name into
 * link (not terminated), its length; or -1 with errno (ESRCH when no
 * other thread runs: the process is a zombie, or a kernel thread).
 */
static ssize_t
use_live_thread(struct procstat *ps, char *link, size_t size)
{
	struct dirent *de;
	struct stat st;
	ssize_t n;
	DIR *dir;
	int fd, saved;

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
		saved = errno;
		close(fd);
		errno = saved;
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

/* Fills kp for one process; false if it vanished or cannot be read. */
static bool
read_process(int procfd, const char *name, struct kinfo_proc *kp)
{
	char path[32], buf[1024];
	struct stat_line sl;
	struct stat st;
	size_t len;
	ssize_t n;

	len = strlen(name);
	if (len + sizeof("/stat") > sizeof(path))
		return (false);
	memcpy(path, name, len);
	memcpy(path + len, "/stat", sizeof("/stat"));
	n = read_once(procfd, path, buf, sizeof(buf));
	if (n <= 0 || !parse_stat(buf, (size_t)n, &sl))
		return (false);
	/*
	 * /proc/PID itself belongs to the process's effective user, even
	 * when the files inside are root's because it may not be dumped.
	 */
	if (fstatat(procfd, name, &st, 0) == -1)
		return (false);
	kp->ki_pid = (pid_t)strtol(name, NULL, 10);
	kp->ki_ppid = sl.ppid;
	kp->ki_pgid = sl.pgid;
	kp->ki_uid = st.st_uid;
	kp->ki_jid = 0;
	kp->ki_flag = (sl.flags & PF_KTHREAD) != 0 ? P_KPROC : 0;
	len = sl.commlen < COMMLEN ? sl.commlen : COMMLEN;
	memcpy(kp->ki_comm, sl.comm, len);
	kp->ki_comm[len] = '\0';
	return (true);
}

struct kinfo_proc *
procstat_getprocs(struct procstat *ps, int what, int arg, unsigned int *count)
{
	struct kinfo_proc *procs, *grown;
	struct dirent *de;
	size_t n, cap, i;
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
	/* /proc lists processes by increasing id; keep the list if so. */
	ps->procs = procs;
	ps->nprocs = n;
	for (i = 1; i < n; i++)
		if (procs[i].ki_pid <= procs[i - 1].ki_pid)
			ps->procs = NULL;
	*count = (unsigned int)n;
	return (procs);
}

void
procstat_freeprocs(struct procstat *ps, struct kinfo_proc *procs)
{
	if (procs == ps->procs)
		ps->procs = NULL;
	free(procs);
}

/* The record of pid in the list handed out, or NULL. */
static const struct kinfo_proc *
find_listed(const struct procstat *ps, pid_t pid)
{
	size_t lo, hi, mid;

	if (ps->procs == NULL)
		return (NULL);
	lo = 0;
	hi = ps->nprocs;
	while (lo < hi) {
		mid = lo + (hi - lo) / 2;
		if (ps->procs[mid].ki_pid == pid)
			return (&ps->procs[mid]);
		if (ps->procs[mid].ki_pid < pid)
			lo = mid + 1;
		else
			hi = mid;
	}
	return (NULL);
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
exe_named(const char *link, const struct stat *exe)
{
	struct stat st;

	if (exe->st_nlink == 0)
		return (false);
	return (stat(link, &st) == 0 && st.st_dev == exe->st_dev &&
	    st.st_ino == exe->st_ino);
}

static int
query_pathname(struct procstat *ps, char *buf, size_t *len)
{
	char link[LINK_MAX_LEN];
	struct stat exe;
	ssize_t n;

	n = readlinkat(ps->filedir, "exe", link, sizeof(link) - 1);
	/* No executable: a kernel thread, a zombie, or an exited leader. */
	if (n == -1 && errno == ENOENT)
		n = use_live_thread(ps, link, sizeof(link) - 1);
	if (n == -1) {
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
	if (has_deleted_suffix(link, (size_t)n)) {
		if (fstatat(ps->filedir, "exe", &exe, 0) == -1) {
			if (errno == ENOENT)
				errno = ESRCH;
			return (-1);
		}
		if (!exe_named(link, &exe)) {
			errno = ENOENT;
			return (-1);
		}
	}
	return (store(link, (size_t)n, buf, len));
}

/*
 * The argument block into buf, with one byte more asked for in the same
 * read to learn whether it all fitted; its length, or -1.
 */
static ssize_t
read_args(int dirfd, char *buf, size_t len)
{
	struct iovec iov[2];
	char extra;
	ssize_t n;
	int fd, saved;

	fd = openat(dirfd, "cmdline", O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	iov[0].iov_base = buf;
	iov[0].iov_len = len;
	iov[1].iov_base = &extra;
	iov[1].iov_len = 1;
	do
		n = readv(fd, iov, 2);
	while (n == -1 && errno == EINTR);
	saved = errno;
	close(fd);
	errno = saved;
	return (n);
}

/*
 * The argument block of the process examined into buf; its length, which
 * is len + 1 when it does not all fit, or -1.  The block is empty while a
 * program is being started (the kernel sets it up last) and once it has
 * exited; only the first is waited for, briefly.
 */
static ssize_t
fetch_args(struct procstat *ps, char *buf, size_t len)
{
	char link[LINK_MAX_LEN];
	ssize_t n;
	int tries;

	n = read_args(ps->filedir, buf, len);
	if (n == 0 && use_live_thread(ps, link, sizeof(link)) != -1)
		n = read_args(ps->filedir, buf, len);
	for (tries = 0; n == 0 && tries < 100 &&
	    readlinkat(ps->filedir, "exe", link, sizeof(link)) != -1; tries++) {
		sched_yield();
		n = read_args(ps->filedir, buf, len);
	}
	if (n == -1 && errno == ENOENT)
		errno = ESRCH;
	return (n);
}

static int
query_args(struct procstat *ps, char *buf, size_t *len)
{
	ssize_t n;

	/* The block that the probe read, if it holds enough. */
	n = ps->argslen;
	ps->argslen = -1;
	if (n != -1 && (n <= ARGS_KEPT || *len < ARGS_KEPT)) {
		if ((size_t)n > *len) {
			memcpy(buf, ps->args, *len);
			errno = ENOMEM;
			return (-1);
		}
		memcpy(buf, ps->args, (size_t)n);
		*len = (size_t)n;
		return (0);
	}
	n = fetch_args(ps, buf, *len);
	if (n == -1)
		return (-1);
	if ((size_t)n > *len) {
		errno = ENOMEM;
		return (-1);
	}
	*len = (size_t)n;
	return (0);
}

int
proc_query(struct procstat *ps, int what, pid_t pid, char *buf, size_t *len)
{
	const struct kinfo_proc *kp;

	if (what != KERN_PROC_PATHNAME && what != KERN_PROC_ARGS) {
		errno = EINVAL;
		return (-1);
	}
	/* A kernel thread runs no executable; no need to ask. */
	kp = find_listed(ps, pid);
	if (what == KERN_PROC_PATHNAME && kp != NULL &&
	    (kp->ki_flag & P_KPROC) != 0) {
		errno = ESRCH;
		return (-1);
	}
	if (select_process(ps, pid) == -1)
		return (-1);
	if (what == KERN_PROC_PATHNAME)
		return (query_pathname(ps, buf, len));
	return (query_args(ps, buf, len));
}

/*
 * A process runs a program as long as it has its memory, and with it an
 * argument block and an executable, deleted or not.  A zombie has none,
 * nor has a process on its way out: both have exited.  The argument block
 * read here is kept for the query that follows, so that a process that
 * exits in between still gives the arguments it had.
 */
int
proc_probe(struct procstat *ps, pid_t pid)
{
	char link[LINK_MAX_LEN];
	ssize_t n;

	if (select_process(ps, pid) == -1)
		return (-1);
	n = fetch_args(ps, ps->args, sizeof(ps->args));
	if (n == -1)
		return (-1);
	if (n == 0 && readlinkat(ps->filedir, "exe", link, sizeof(link)) == -1) {
		if (errno == ENOENT)
			errno = ESRCH;
		return (-1);
	}
	ps->argslen = n;
	return (0);
}

/*
 * The memory map is read line by line.  An entry keeps its path as an
 * offset into the handle's pool until the map is complete; the pool then
 * goes after the entries, in the block handed out.  Offset 0 is the
 * empty name.
 */
struct map_build {
	struct kinfo_vmentry *map;
	size_t n, cap;
	size_t used;			/* bytes of the pool in use */
	size_t last, lastlen;		/* the last file's path in the pool */
	unsigned long long lastino;
	bool lastnamed;			/* whether that file can be named */
};

static const char *
path_offset(size_t off)
{
	return ((const char *)(uintptr_t)off);
}

/* Copies a path into the pool; false when out of memory. */
static bool
pool_add(struct procstat *ps, struct map_build *mb, const char *path,
    size_t len)
{
	size_t size;
	char *grown;

	if (mb->used + len + 1 > ps->poolsize) {
		size = ps->poolsize * 2;
		while (mb->used + len + 1 > size)
			size *= 2;
		grown = (char *)realloc(ps->pool, size);
		if (grown == NULL)
			return (false);
		ps->pool = grown;
		ps->poolsize = size;
	}
	mb->last = mb->used;
	mb->lastlen = len;
	memcpy(ps->pool + mb->used, path, len);
	ps->pool[mb->used + len] = '\0';
	mb->used += len + 1;
	return (true);
}

/*
 * A mapped file whose name the kernel marks deleted has no name, unless
 * the file really carries that name.
 */
static bool
mapped_file_named(const struct maps_line *ml)
{
	char path[LINK_MAX_LEN];
	struct stat st;

	if (!has_deleted_suffix(ml->path, ml->pathlen))
		return (true);
	if (ml->pathlen >= sizeof(path))
		return (false);
	memcpy(path, ml->path, ml->pathlen);
	path[ml->pathlen] = '\0';
	return (stat(path, &st) == 0 &&
	    (unsigned long long)st.st_ino == ml->inode);
}

/* Appends the entry for one maps line; false when out of memory. */
static bool
add_vmentry(struct procstat *ps, struct map_build *mb, const char *line,
    size_t len)
{
	struct kinfo_vmentry *kve, *grown;
	struct maps_line ml;

	if (!parse_maps_line(line, len, &ml))
		return (true);
	if (mb->n == mb->cap) {
		grown = (struct kinfo_vmentry *)realloc(mb->map,
		    2 * mb->cap * sizeof(*mb->map));
		if (grown == NULL)
			return (false);
		mb->map = grown;
		mb->cap *= 2;
	}
	kve = &mb->map[mb->n++];
	kve->kve_protection = ml.protection;
	kve->kve_path = path_offset(0);
	if (!maps_is_file(&ml)) {
		kve->kve_type = ml.pathlen == 0 ? KVME_TYPE_DEFAULT :
		    ml.path[0] == '/' ? KVME_TYPE_SWAP : KVME_TYPE_UNKNOWN;
		return (true);
	}
	kve->kve_type = KVME_TYPE_VNODE;
	/* A file is mostly mapped several times in a row: keep it once. */
	if (mb->last == 0 || ml.pathlen != mb->lastlen ||
	    ml.inode != mb->lastino ||
	    memcmp(ml.path, ps->pool + mb->last, ml.pathlen) != 0) {
		if (!pool_add(ps, mb, ml.path, ml.pathlen))
			return (false);
		mb->lastino = ml.inode;
		mb->lastnamed = mapped_file_named(&ml);
	}
	if (mb->lastnamed)
		kve->kve_path = path_offset(mb->last);
	return (true);
}

/*
 * Reads a maps file into mb, line by line through a buffer of fixed
 * size; false with errno set on failure.
 */
static bool
read_map(struct procstat *ps, int fd, struct map_build *mb)
{
	char buf[16384];
	size_t have, start, linelen;
	const char *nl;
	ssize_t got;
	bool eof, skipping;

	have = 0;
	skipping = false;
	eof = false;
	do {
		got = read(fd, buf + have, sizeof(buf) - have);
		if (got == -1) {
			if (errno == EINTR)
				continue;
			return (false);
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
			if (!skipping && !add_vmentry(ps, mb, buf + start,
			    linelen)) {
				errno = ENOMEM;
				return (false);
			}
			/* A line longer than the buffer: drop what follows. */
			skipping = nl == NULL && !eof;
			start += linelen + (nl != NULL ? 1 : 0);
		}
		memmove(buf, buf + start, have - start);
		have -= start;
	} while (!eof);
	return (true);
}

/* Opens and reads the maps file of the process examined. */
static bool
read_map_of(struct procstat *ps, struct map_build *mb)
{
	int fd, saved;
	bool ok;

	fd = openat(ps->filedir, "maps", O_RDONLY | O_CLOEXEC);
	if (fd == -1) {
		if (errno == ENOENT)
			errno = ESRCH;
		return (false);
	}
	ok = read_map(ps, fd, mb);
	saved = errno;
	close(fd);
	errno = saved;
	return (ok);
}

struct kinfo_vmentry *
procstat_getvmmap(struct procstat *ps, struct kinfo_proc *kp,
    unsigned int *count)
{
	char link[LINK_MAX_LEN];
	struct map_build mb;
	struct kinfo_vmentry *block;
	char *paths;
	size_t i;
	int saved;

	if (select_process(ps, kp->ki_pid) == -1)
		return (NULL);
	if (ps->pool == NULL) {
		ps->pool = (char *)malloc(4096);
		if (ps->pool == NULL)
			return (NULL);
		ps->poolsize = 4096;
	}
	memset(&mb, 0, sizeof(mb));
	ps->pool[0] = '\0';
	mb.used = 1;
	mb.cap = 64;
	mb.map = (struct kinfo_vmentry *)malloc(mb.cap * sizeof(*mb.map));
	if (mb.map == NULL)
		return (NULL);
	if (!read_map_of(ps, &mb))
		goto fail;
	/* An exited leader has an empty map: ask a live thread. */
	if (mb.n == 0 && use_live_thread(ps, link, sizeof(link)) != -1 &&
	    !read_map_of(ps, &mb))
		goto fail;
	block = (struct kinfo_vmentry *)realloc(mb.map,
	    mb.n * sizeof(*mb.map) + mb.used);
	if (block == NULL) {
		errno = ENOMEM;
		goto fail;
	}
	paths = (char *)(block + mb.n);
	memcpy(paths, ps->pool, mb.used);
	for (i = 0; i < mb.n; i++)
		block[i].kve_path = paths + (uintptr_t)block[i].kve_path;
	*count = (unsigned int)mb.n;
	return (block);
fail:
	saved = errno;
	free(mb.map);
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
