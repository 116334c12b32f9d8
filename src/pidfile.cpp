/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Pidfiles: read once per run for each root, the host's or a jail's,
 * into a table of process ids and service names.  Inside a jail the
 * files are the jail's own, so no symbolic link there is followed out of
 * it; no file that is not a regular one is opened for reading.
 */
#include <sys/stat.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "pidfile.h"

#define NAME_SIZE	256
#define ROOT_SIZE	1024
/* A pid, some blanks and a newline fit; anything longer is no pidfile. */
#define CONTENT_SIZE	32

struct pidfile {
	int jid;
	pid_t pid;
	char name[NAME_SIZE];
};

static struct pidfile pidfiles[PIDFILE_MAX];
static unsigned int npidfiles;
static int roots[PIDFILE_ROOT_MAX];	/* the jails whose files were read */
static unsigned int nroots;

static const char *const rc_dirs[] = { RC_SCRIPT_DIRS };

/* Whether root has an rc script of the given name. */
static bool
has_rc_script(const char *root, const char *name)
{
	char path[ROOT_SIZE + NAME_SIZE + 64];
	struct stat st;
	size_t i;

	if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
		return (false);
	for (i = 0; i < sizeof(rc_dirs) / sizeof(rc_dirs[0]); i++) {
		if ((size_t)snprintf(path, sizeof(path), "%s%s/%s", root,
		    rc_dirs[i], name) >= sizeof(path))
			continue;
		if (stat(path, &st) == 0 && S_ISREG(st.st_mode))
			return (true);
	}
	return (false);
}

/* The process id a pidfile holds: digits and blanks after; 0 if none. */
static pid_t
read_pid(int dirfd, const char *file)
{
	char text[CONTENT_SIZE + 1];
	struct stat st;
	intmax_t v;
	ssize_t n;
	size_t i;
	int fd;

	fd = openat(dirfd, file, O_RDONLY | O_NOFOLLOW | O_NONBLOCK |
	    O_NOCTTY | O_CLOEXEC);
	if (fd == -1)
		return (0);
	n = -1;
	if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
		n = read(fd, text, sizeof(text));
	close(fd);
	if (n <= 0 || n > CONTENT_SIZE)
		return (0);
	v = 0;
	for (i = 0; i < (size_t)n && text[i] >= '0' && text[i] <= '9'; i++)
		if ((v = v * 10 + (text[i] - '0')) > INT32_MAX)
			return (0);
	if (i == 0)
		return (0);
	for (; i < (size_t)n; i++)
		if (text[i] != '\n' && text[i] != ' ' && text[i] != '\t' &&
		    text[i] != '\r')
			return (0);
	return ((pid_t)v);
}

/* Remembers the pidfile file of folder dirfd (named folder, or NULL). */
static void
add_pidfile(int jid, const char *root, int dirfd, const char *file,
    const char *folder)
{
	struct pidfile *pf;
	size_t len;
	pid_t pid;

	if (npidfiles == PIDFILE_MAX)
		return;
	pid = read_pid(dirfd, file);
	if (pid <= 0)
		return;
	pf = &pidfiles[npidfiles];
	len = strlen(file) - strlen(".pid");
	snprintf(pf->name, sizeof(pf->name), "%.*s", (int)len, file);
	if (folder != NULL && !has_rc_script(root, pf->name) &&
	    has_rc_script(root, folder))
		snprintf(pf->name, sizeof(pf->name), "%s", folder);
	pf->jid = jid;
	pf->pid = pid;
	npidfiles++;
}

static bool
is_pidfile_name(const char *name)
{
	size_t len = strlen(name);

	return (len > strlen(".pid") &&
	    strcmp(name + len - strlen(".pid"), ".pid") == 0);
}

/*
 * Reads the pidfiles of the folder dirfd, which it closes, and of the
 * folders right below it unless this is one (folder is its name then).
 */
static void
read_folder(int jid, const char *root, int dirfd, const char *folder)
{
	struct dirent *de;
	DIR *dir;
	int fd;

	dir = fdopendir(dirfd);
	if (dir == NULL) {
		close(dirfd);
		return;
	}
	while ((de = readdir(dir)) != NULL) {
		if (is_pidfile_name(de->d_name))
			add_pidfile(jid, root, dirfd, de->d_name, folder);
		else if (folder == NULL && de->d_name[0] != '.' &&
		    (de->d_type == DT_DIR || de->d_type == DT_UNKNOWN)) {
			fd = openat(dirfd, de->d_name, O_RDONLY | O_DIRECTORY |
			    O_NOFOLLOW | O_CLOEXEC);
			if (fd != -1)
				read_folder(jid, root, fd, de->d_name);
		}
	}
	closedir(dir);
}

/*
 * Opens root's /var/run: the host's as it is (on Linux a link to /run),
 * a jail's one folder at a time, following no link.
 */
static int
open_run_folder(const char *root)
{
	int fd, next;

	if (root[0] == '\0')
		return (open("/var/run", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
	fd = open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	next = openat(fd, "var", O_RDONLY | O_DIRECTORY | O_NOFOLLOW |
	    O_CLOEXEC);
	close(fd);
	if (next == -1)
		return (-1);
	fd = openat(next, "run", O_RDONLY | O_DIRECTORY | O_NOFOLLOW |
	    O_CLOEXEC);
	close(next);
	return (fd);
}

/* Reads the pidfiles of the root of kp's jail, unless done already. */
static void
read_root(struct procstat *ps, const struct kinfo_proc *kp)
{
	char root[ROOT_SIZE];
	unsigned int i;
	int fd;

	for (i = 0; i < nroots; i++)
		if (roots[i] == kp->ki_jid)
			return;
	if (nroots == PIDFILE_ROOT_MAX)
		return;
	roots[nroots++] = kp->ki_jid;
	if (proc_jail_root(ps, kp, root, sizeof(root)) == -1)
		return;
	fd = open_run_folder(root);
	if (fd != -1)
		read_folder(kp->ki_jid, root, fd, NULL);
}

static const struct pidfile *
find_pidfile(int jid, pid_t pid)
{
	unsigned int i;

	for (i = 0; i < npidfiles; i++)
		if (pidfiles[i].pid == pid && pidfiles[i].jid == jid)
			return (&pidfiles[i]);
	return (NULL);
}

/*
 * The process of the given id in procs, or NULL.  The list is searched
 * by halves when it is in order of ids, as Linux lists processes.
 */
static const struct kinfo_proc *
find_process(const struct kinfo_proc *procs, unsigned int count, pid_t pid)
{
	static const struct kinfo_proc *checked;
	static bool in_order;
	unsigned int lo, hi, mid, i;

	if (checked != procs) {
		checked = procs;
		in_order = true;
		for (i = 1; i < count && in_order; i++)
			in_order = procs[i - 1].ki_pid < procs[i].ki_pid;
	}
	if (!in_order) {
		for (i = 0; i < count; i++)
			if (procs[i].ki_pid == pid)
				return (&procs[i]);
		return (NULL);
	}
	for (lo = 0, hi = count; lo < hi;) {
		mid = lo + (hi - lo) / 2;
		if (procs[mid].ki_pid == pid)
			return (&procs[mid]);
		if (procs[mid].ki_pid < pid)
			lo = mid + 1;
		else
			hi = mid;
	}
	return (NULL);
}

int
pidfile_service(struct procstat *ps, const struct kinfo_proc *kp,
    const struct kinfo_proc *procs, unsigned int count, char *buf,
    size_t size)
{
	const struct kinfo_proc *p;
	const struct pidfile *pf;
	unsigned int steps;

	if (size > 0)
		buf[0] = '\0';
	read_root(ps, kp);
	/* Each step goes to another process: at most all of them. */
	for (p = kp, steps = 0; p != NULL && p->ki_pid > 1 &&
	    p->ki_jid == kp->ki_jid && steps <= count; steps++) {
		pf = find_pidfile(kp->ki_jid, p->ki_pid);
		if (pf != NULL) {
			snprintf(buf, size, "%s", pf->name);
			return (SERVICE_RC);
		}
		p = find_process(procs, count, p->ki_ppid);
	}
	return (SERVICE_NONE);
}
