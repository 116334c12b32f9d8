/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the executable's path, the argument block and the existence
 * probe, from /proc/PID/exe and /proc/PID/cmdline.
 */
#include <sys/stat.h>
#include <errno.h>
#include <sched.h>
#include <string.h>
#include <unistd.h>

#include "backend.h"
#include "lookup.h"
#include "mounts.h"

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
 * link may keep it alive under a name the kernel does not know).  A name
 * that is not looked up, as it may never answer, is taken at the
 * kernel's word.
 */
static bool
exe_named(struct procstat *ps, const char *link, const struct stat *exe)
{
	struct stat st;

	if (exe->st_nlink == 0)
		return (false);
	return (lookup_stat(ps, link, (uint64_t)exe->st_dev, &st) ==
	    LOOKUP_DONE && st.st_dev == exe->st_dev &&
	    st.st_ino == exe->st_ino);
}

/*
 * An executable whose name does not fit a path (longer than PATH_MAX, or
 * close to it with " (deleted)" added): gone when no link is left, else
 * known by the name that the memory map gives it, cut to the buffer.
 */
static int
query_long_pathname(struct procstat *ps, char *buf, size_t *len)
{
	struct stat exe;

	if (fstatat(ps->filedir, "exe", &exe, 0) == -1)
		return (gone_if_missing());
	if (exe.st_nlink == 0) {
		errno = ENOENT;
		return (-1);
	}
	if (map_path_of(ps, exe.st_dev, exe.st_ino, buf, *len) == -1)
		buf[0] = '\0';
	/* Stored is the path cut short, without a NUL, as by a sysctl. */
	*len = strlen(buf);
	errno = ENOMEM;
	return (-1);
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
	if (n == -1 && errno == ENAMETOOLONG)
		return (query_long_pathname(ps, buf, len));
	if (n == -1)
		return (gone_if_missing());
	link[n] = '\0';
	/*
	 * An executable that never was a file on disk (memfd) cannot have
	 * been replaced by an upgrade; it goes by the kernel's name for it.
	 */
	if (link[0] == '/' && strncmp(link, "/memfd:", 7) != 0 &&
	    has_deleted_suffix(link, (size_t)n)) {
		/* Its file is not even asked where that may never answer. */
		if (lookup_may_hang(ps, link, 0)) {
			lookup_note(link);
			errno = ENOENT;
			return (-1);
		}
		if (fstatat(ps->filedir, "exe", &exe, 0) == -1)
			return (gone_if_missing());
		if (!exe_named(ps, link, &exe)) {
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
read_args(struct procstat *ps, char *buf, size_t len)
{
	return (read_proc_file(ps, ps->filedir, "cmdline", buf, len,
	    READ_ONE_MORE));
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

	n = read_args(ps, buf, len);
	if (n == 0 && use_live_thread(ps, link, sizeof(link)) != -1)
		n = read_args(ps, buf, len);
	for (tries = 0; n == 0 && tries < 100 &&
	    readlinkat(ps->filedir, "exe", link, sizeof(link)) != -1; tries++) {
		sched_yield();
		n = read_args(ps, buf, len);
	}
	if (n == -1)
		return (gone_if_missing());
	return (n);
}

/* The argument block as the KERN_PROC_ARGS sysctl gives it. */
static int
query_args(struct procstat *ps, char *buf, size_t *len)
{
	ssize_t n;

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
proc_query(struct procstat *ps, int what, const struct kinfo_proc *kp,
    char *buf, size_t *len)
{
	if (what != KERN_PROC_PATHNAME && what != KERN_PROC_ARGS) {
		errno = EINVAL;
		return (-1);
	}
	if (select_process(ps, kp) == -1)
		return (-1);
	if (what == KERN_PROC_PATHNAME)
		return (query_pathname(ps, buf, len));
	return (query_args(ps, buf, len));
}

/*
 * A process runs a program as long as it has its memory, and with it an
 * argument block and an executable, deleted or not.  A zombie has none,
 * nor has a process on its way out: both have exited.  The argument block
 * read to tell is handed to the caller, so that a process that exits
 * right after still gives the arguments it had.  The start time and the
 * name come last, from one read of the stat file.
 */
int
proc_probe(struct procstat *ps, struct kinfo_proc *kp, char *args,
    size_t *argslen)
{
	char link[LINK_MAX_LEN];
	size_t size;
	ssize_t n;
	int rc, saved;

	size = args != NULL ? *argslen : 0;
	*argslen = 0;
	if (select_process(ps, kp) == -1)
		return (-1);
	n = args != NULL ? fetch_args(ps, args, size) : 0;
	if (n == 0 && readlinkat(ps->filedir, "exe", link, sizeof(link)) == -1) {
		(void)gone_if_missing();
		n = -1;
	}
	saved = errno;
	/* Last: what was read above is of the process and program listed. */
	if ((rc = same_program(ps, kp)) == -1)
		return (-1);
	if (n == -1) {
		errno = saved;
		return (-1);
	}
	*argslen = (size_t)n < size ? (size_t)n : size;
	return (rc);
}
