/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Pidfiles: read once per run for each root (the tool's own, a jail's, a
 * chroot's) into a table of that root's own, with the name of the
 * service each gives.  Everything below a root is read through a
 * descriptor of it (beneath.h), so that no link leads out of it; only
 * files and folders that nobody but the root's owner could write count,
 * since anybody who can write a pidfile can make any process look like
 * the service it names.  The rc scripts are read after the pidfiles, and
 * only where there are any, once each.
 */
#include <sys/stat.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "beneath.h"
#include "mounts.h"
#include "pidfile.h"
#include "rcscript.h"
#include "text.h"
#include "xo_c.h"

#define NAME_SIZE	256
#define ROOT_SIZE	1024
#define PATH_SIZE	SCRIPT_PATH_MAX
/* A pid, some blanks and a newline fit; anything longer is no pidfile. */
#define CONTENT_SIZE	32
/*
 * How much older than its process a pidfile may look and still be its
 * own: the clock of the files and the start times tick coarsely.
 */
#define START_SLACK_SEC	1

#define NELEM(a)	(sizeof(a) / sizeof((a)[0]))

struct pidfile {
	pid_t pid;
	struct timespec mtime;
	bool by_script;		/* a script names it */
	char name[NAME_SIZE];	/* of its service */
};

struct root {
	uint64_t dev, ino;
	char path[ROOT_SIZE];	/* as the report shows it */
	unsigned int first, n;	/* its pidfiles in the pool */
	unsigned int files_left_out, scripts_left_out;
};

static struct pidfile pool[PIDFILE_POOL];
static unsigned int npool;
static struct root roots[PIDFILE_ROOT_MAX];
static unsigned int nroots;
struct pid_tally pidfile_roots_left_out;

static const char *const pidfile_dirs[] = { PIDFILE_DIRS };
static const char *const rc_dirs[] = { RC_SCRIPT_DIRS };

/* The pidfiles of the root being read: their paths below it. */
static struct {
	char path[PATH_SIZE];
	unsigned int dir;	/* in pidfile_dirs */
} reading[PIDFILE_MAX];

/* What reading one root needs. */
struct root_read {
	struct below_root br;
	struct root *rt;
	int rcfd[NELEM(rc_dirs)];	/* the rc folders, or -1 */
	/* One pidfile folder that is a link to another: /var/run to /run. */
	char alias_from[PATH_SIZE], alias_to[PATH_SIZE];
	unsigned int scripts;		/* read so far */
	const char *script;		/* the name of the one being read */
};

static struct pidfile *
root_pidfile(const struct root *rt, unsigned int i)
{
	return (&pool[rt->first + i]);
}

/* The process id a pidfile holds: digits and blanks after; 0 if none. */
static pid_t
read_pid(int fd)
{
	char text[CONTENT_SIZE + 1];
	intmax_t v;
	ssize_t n;
	size_t i;

	n = read(fd, text, sizeof(text));
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

static bool
is_pidfile_name(const char *name)
{
	size_t len = strlen(name);

	return (len > strlen(".pid") &&
	    strcmp(name + len - strlen(".pid"), ".pid") == 0);
}

/* Remembers the pidfile name of the folder dirfd, dirpath below the root. */
static void
add_pidfile(struct root_read *rr, int dirfd, const char *dirpath,
    const char *name, unsigned int dir)
{
	struct root *rt = rr->rt;
	struct pidfile *pf;
	struct stat st;
	pid_t pid;
	int fd;

	fd = below_open_at(&rr->br, dirfd, dirpath, name, false, true, &st);
	if (fd == -1)
		return;
	pid = read_pid(fd);
	close(fd);
	if (pid <= 0)
		return;
	if (rt->n == PIDFILE_MAX || npool == PIDFILE_POOL) {
		rt->files_left_out++;
		return;
	}
	pf = &pool[npool++];
	pf->pid = pid;
	pf->mtime = st.st_mtim;
	pf->by_script = false;
	snprintf(pf->name, sizeof(pf->name), "%.*s",
	    (int)(strlen(name) - strlen(".pid")), name);
	snprintf(reading[rt->n].path, sizeof(reading[rt->n].path), "/%s/%s",
	    dirpath, name);
	reading[rt->n].dir = dir;
	rt->n++;
}

/*
 * Reads the pidfiles of the folder fd (dirpath below the root), which it
 * closes, and of the folders right below it unless it is one itself.
 */
static void
read_folder(struct root_read *rr, int fd, const char *dirpath, bool below,
    unsigned int dir)
{
	char subpath[PATH_SIZE];
	struct dirent *de;
	struct stat st;
	DIR *d;
	int sub;

	d = fdopendir(fd);
	if (d == NULL) {
		close(fd);
		return;
	}
	while ((de = readdir(d)) != NULL) {
		if (is_pidfile_name(de->d_name))
			add_pidfile(rr, dirfd(d), dirpath, de->d_name, dir);
		else if (!below && de->d_name[0] != '.' &&
		    (de->d_type == DT_DIR || de->d_type == DT_UNKNOWN) &&
		    (size_t)snprintf(subpath, sizeof(subpath), "%s/%s",
		    dirpath, de->d_name) < sizeof(subpath)) {
			sub = below_open_at(&rr->br, dirfd(d), dirpath,
			    de->d_name, true, true, &st);
			if (sub != -1)
				read_folder(rr, sub, subpath, true, dir);
		}
	}
	closedir(d);
}

/*
 * The absolute path below the root that path names (relative ones from
 * the folder base), with no "." or ".." left and no slash doubled, into
 * out; false when it does not fit.
 */
static bool
lexical_path(const char *base, const char *path, char *out, size_t size)
{
	const char *p, *end;
	size_t n, len;
	char *slash;

	len = 0;
	out[0] = '\0';
	if (path[0] != '/') {
		if (strlen(base) >= size)
			return (false);
		len = (size_t)snprintf(out, size, "%s", base);
	}
	for (p = path; *p != '\0'; p = *end != '\0' ? end + 1 : end) {
		end = strchr(p, '/');
		if (end == NULL)
			end = p + strlen(p);
		n = (size_t)(end - p);
		if (n == 0 || (n == 1 && p[0] == '.'))
			continue;
		if (n == 2 && p[0] == '.' && p[1] == '.') {
			slash = strrchr(out, '/');
			len = slash != NULL ? (size_t)(slash - out) : 0;
			out[len] = '\0';
			continue;
		}
		if (len + 1 + n >= size)
			return (false);
		out[len++] = '/';
		memcpy(out + len, p, n);
		len += n;
		out[len] = '\0';
	}
	if (len == 0)
		snprintf(out, size, "/");
	return (true);
}

/*
 * The pidfile folder path, when it is a link (held) to another of them,
 * is read as that one: /var/run as /run on most Linux systems.
 */
static void
note_alias(struct root_read *rr, const char *path, const char *held)
{
	char base[PATH_SIZE], target[PATH_SIZE];
	char *slash;
	size_t i;

	snprintf(base, sizeof(base), "%s", path);
	slash = strrchr(base, '/');
	if (slash != NULL)
		*slash = '\0';
	if (!lexical_path(base, held, target, sizeof(target)))
		return;
	for (i = 0; i < NELEM(pidfile_dirs); i++)
		if (strcmp(target, pidfile_dirs[i]) == 0 &&
		    strcmp(path, pidfile_dirs[i]) != 0) {
			snprintf(rr->alias_from, sizeof(rr->alias_from), "%s",
			    path);
			snprintf(rr->alias_to, sizeof(rr->alias_to), "%s",
			    target);
		}
}

/* Reads the pidfiles of each pidfile folder of the root, each once. */
static void
read_pidfiles(struct root_read *rr)
{
	uint64_t seen[NELEM(pidfile_dirs)][2];
	char held[PATH_SIZE];
	unsigned int i, j, nseen;
	struct stat st;
	int fd;

	nseen = 0;
	for (i = 0; i < NELEM(pidfile_dirs); i++) {
		fd = below_open_dir(&rr->br, pidfile_dirs[i] + 1, true, held,
		    sizeof(held));
		if (fd == -1) {
			if (errno == ELOOP && held[0] != '\0')
				note_alias(rr, pidfile_dirs[i], held);
			continue;
		}
		if (fstat(fd, &st) == -1) {
			close(fd);
			continue;
		}
		for (j = 0; j < nseen; j++)
			if (seen[j][0] == (uint64_t)st.st_dev &&
			    seen[j][1] == (uint64_t)st.st_ino)
				break;
		if (j < nseen) {
			close(fd);
			continue;
		}
		seen[nseen][0] = (uint64_t)st.st_dev;
		seen[nseen][1] = (uint64_t)st.st_ino;
		nseen++;
		read_folder(rr, fd, pidfile_dirs[i] + 1, false, i);
	}
}

/* A script names path: its pidfile, if it is one of the root's. */
static void
named_by_script(void *ctx, const char *path)
{
	struct root_read *rr = (struct root_read *)ctx;
	char canon[PATH_SIZE];
	struct pidfile *pf;
	size_t n;
	unsigned int i;

	if (!lexical_path("/", path, canon, sizeof(canon)))
		return;
	n = strlen(rr->alias_from);
	if (n > 0 && strncmp(canon, rr->alias_from, n) == 0 &&
	    canon[n] == '/' && strlen(rr->alias_to) + strlen(canon + n) <
	    sizeof(canon)) {
		memmove(canon + strlen(rr->alias_to), canon + n,
		    strlen(canon + n) + 1);
		memcpy(canon, rr->alias_to, strlen(rr->alias_to));
	}
	for (i = 0; i < rr->rt->n; i++) {
		pf = root_pidfile(rr->rt, i);
		if (strcmp(reading[i].path, canon) != 0 ||
		    (pf->by_script && strcmp(pf->name, rr->script) <= 0))
			continue;
		snprintf(pf->name, sizeof(pf->name), "%s", rr->script);
		pf->by_script = true;
	}
}

/* Reads up to size bytes of the file fd into buf; the number read. */
static size_t
read_text(int fd, char *buf, size_t size)
{
	size_t len;
	ssize_t n;

	len = 0;
	while (len < size && ((n = read(fd, buf + len, size - len)) > 0 ||
	    (n == -1 && errno == EINTR)))
		if (n > 0)
			len += (size_t)n;
	return (len);
}

/* Opens name of the rc folder i for reading: a script that can be run. */
static int
open_script(struct root_read *rr, unsigned int i, const char *name)
{
	struct stat st;
	int fd;

	if (rr->rcfd[i] == -1)
		return (-1);
	fd = below_open_at(&rr->br, rr->rcfd[i], rc_dirs[i] + 1, name, false,
	    true, &st);
	if (fd != -1 && (st.st_mode & S_IXUSR) == 0) {
		close(fd);
		fd = -1;
	}
	return (fd);
}

/* Reads the scripts of the rc folders, for the pidfiles they name. */
static void
read_scripts(struct root_read *rr)
{
	static char text[SCRIPT_SIZE];
	struct dirent *de;
	unsigned int i;
	DIR *d;
	int fd;

	for (i = 0; i < NELEM(rc_dirs); i++) {
		if (rr->rcfd[i] == -1 || (fd = fcntl(rr->rcfd[i],
		    F_DUPFD_CLOEXEC, 0)) == -1)
			continue;
		if ((d = fdopendir(fd)) == NULL) {
			close(fd);
			continue;
		}
		while ((de = readdir(d)) != NULL) {
			if (de->d_name[0] == '.')
				continue;
			if (rr->scripts == SCRIPT_MAX) {
				rr->rt->scripts_left_out++;
				continue;
			}
			if ((fd = open_script(rr, i, de->d_name)) == -1)
				continue;
			rr->scripts++;
			rr->script = de->d_name;
			script_pidfiles(text, read_text(fd, text, sizeof(text)),
			    named_by_script, rr);
			close(fd);
		}
		closedir(d);
	}
}

/* Whether the root has an rc script of the given name. */
static bool
has_rc_script(struct root_read *rr, const char *name)
{
	unsigned int i;
	int fd;

	for (i = 0; i < NELEM(rc_dirs); i++)
		if ((fd = open_script(rr, i, name)) != -1) {
			close(fd);
			return (true);
		}
	return (false);
}

/*
 * A pidfile that no script names gives the name of its rc script, when
 * one exists, else that of its folder's, when one exists, else its own.
 */
static void
name_the_rest(struct root_read *rr)
{
	char folder[NAME_SIZE];
	struct pidfile *pf;
	const char *p, *slash;
	unsigned int i;

	for (i = 0; i < rr->rt->n; i++) {
		pf = root_pidfile(rr->rt, i);
		if (pf->by_script || has_rc_script(rr, pf->name))
			continue;
		p = reading[i].path + strlen(pidfile_dirs[reading[i].dir]) + 1;
		slash = strchr(p, '/');
		if (slash == NULL || (size_t)(slash - p) >= sizeof(folder))
			continue;
		snprintf(folder, sizeof(folder), "%.*s", (int)(slash - p), p);
		if (has_rc_script(rr, folder))
			snprintf(pf->name, sizeof(pf->name), "%s", folder);
	}
}

/* Reads the pidfiles below the root fd (prefix: its path) into rt. */
static void
read_root(struct procstat *ps, struct root *rt, int fd, const char *prefix,
    uid_t owner)
{
	static struct root_read rr;
	unsigned int i;

	memset(&rr, 0, sizeof(rr));
	rr.br.ps = ps;
	rr.br.fd = fd;
	rr.br.prefix = prefix;
	rr.br.owner = owner;
	rr.rt = rt;
	rt->first = npool;
	read_pidfiles(&rr);
	if (rt->n == 0)
		return;
	for (i = 0; i < NELEM(rc_dirs); i++)
		rr.rcfd[i] = below_open_dir(&rr.br, rc_dirs[i] + 1, true, NULL,
		    0);
	read_scripts(&rr);
	name_the_rest(&rr);
	for (i = 0; i < NELEM(rc_dirs); i++)
		if (rr.rcfd[i] != -1)
			close(rr.rcfd[i]);
}

/*
 * Opens the root of kp's process, its path as the tool sees it in path:
 * the descriptor and its attributes, or -1.
 */
static int
open_root(struct procstat *ps, const struct kinfo_proc *kp, char *path,
    size_t size, struct stat *st)
{
	int fd;

	if (proc_root_path(ps, kp, path, size) == -1 || path[0] != '/' ||
	    lookup_may_hang(ps, path, 0))
		return (-1);
	fd = proc_open_root(ps, kp);
	if (fd == -1)
		return (-1);
	if (fstat(fd, st) == -1) {
		close(fd);
		return (-1);
	}
	return (fd);
}

/*
 * The index of the root of kp's process among the roots, whose files are
 * read when it is new; -1 when it cannot be told, or when its path does
 * not lead the tool to it (so that no lookup there can be checked).
 */
static int
process_root(struct procstat *ps, const struct kinfo_proc *kp)
{
	char path[ROOT_SIZE];
	struct stat st, seen;
	struct root *rt;
	unsigned int i;
	bool own;
	int fd;

	fd = open_root(ps, kp, path, sizeof(path), &st);
	if (fd == -1)
		return (-1);
	for (i = 0; i < nroots; i++)
		if (roots[i].dev == (uint64_t)st.st_dev &&
		    roots[i].ino == (uint64_t)st.st_ino) {
			close(fd);
			return ((int)i);
		}
	if (nroots == PIDFILE_ROOT_MAX) {
		close(fd);
		tally_pid(&pidfile_roots_left_out, kp->ki_pid);
		return (-1);
	}
	own = stat("/", &seen) == 0 && seen.st_dev == st.st_dev &&
	    seen.st_ino == st.st_ino;
	if (!own && (strcmp(path, "/") == 0 || stat(path, &seen) == -1 ||
	    seen.st_dev != st.st_dev || seen.st_ino != st.st_ino)) {
		close(fd);
		return (-1);
	}
	rt = &roots[nroots];
	memset(rt, 0, sizeof(*rt));
	rt->dev = (uint64_t)st.st_dev;
	rt->ino = (uint64_t)st.st_ino;
	snprintf(rt->path, sizeof(rt->path), "%s", own ? "/" : path);
	read_root(ps, rt, fd, own ? "" : path, st.st_uid);
	close(fd);
	return ((int)nroots++);
}

/* Whether kp's process has the root rt. */
static bool
has_root(struct procstat *ps, const struct kinfo_proc *kp,
    const struct root *rt)
{
	char path[ROOT_SIZE];
	struct stat st;
	int fd;

	fd = open_root(ps, kp, path, sizeof(path), &st);
	if (fd == -1)
		return (false);
	close(fd);
	return ((uint64_t)st.st_dev == rt->dev &&
	    (uint64_t)st.st_ino == rt->ino);
}

/* Whether the pidfile was written before the process started. */
static bool
left_over(struct procstat *ps, const struct kinfo_proc *kp,
    const struct pidfile *pf)
{
	struct timespec start;

	if (proc_start_time(ps, kp, &start) == -1)
		return (false);
	return (pf->mtime.tv_sec + START_SLACK_SEC < start.tv_sec ||
	    (pf->mtime.tv_sec + START_SLACK_SEC == start.tv_sec &&
	    pf->mtime.tv_nsec < start.tv_nsec));
}

/*
 * The pidfile of the root that holds kp's id and was written since its
 * process started: one that a script names before others, then the one
 * of the first name.  NULL when there is none.
 */
static const struct pidfile *
find_pidfile(struct procstat *ps, const struct root *rt,
    const struct kinfo_proc *kp)
{
	const struct pidfile *pf, *best;
	unsigned int i;

	best = NULL;
	for (i = 0; i < rt->n; i++) {
		pf = root_pidfile(rt, i);
		if (pf->pid != kp->ki_pid || left_over(ps, kp, pf))
			continue;
		if (best == NULL || (pf->by_script && !best->by_script) ||
		    (pf->by_script == best->by_script &&
		    strcmp(pf->name, best->name) < 0))
			best = pf;
	}
	return (best);
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
    size_t size, const char **root)
{
	const struct kinfo_proc *p;
	const struct pidfile *pf;
	const struct root *rt;
	unsigned int steps;
	int r;

	if (size > 0)
		buf[0] = '\0';
	*root = NULL;
	r = process_root(ps, kp);
	if (r == -1)
		return (SERVICE_NONE);
	rt = &roots[r];
	*root = rt->path;
	/*
	 * Each step goes to another process: at most all of them.  A login,
	 * an ssh session or a cron job starts a session of its own, so an
	 * ancestor in another session does not own the process.
	 */
	for (p = kp, steps = 0; p != NULL && p->ki_pid > 1 &&
	    p->ki_jid == kp->ki_jid && p->ki_sid == kp->ki_sid &&
	    steps <= count; steps++) {
		pf = find_pidfile(ps, rt, p);
		if (pf != NULL && (p == kp || has_root(ps, p, rt))) {
			snprintf(buf, size, "%s", pf->name);
			return (SERVICE_RC);
		}
		p = find_process(procs, count, p->ki_ppid);
	}
	return (SERVICE_NONE);
}

void
pidfile_warn(void)
{
	char shown[4 * ROOT_SIZE + 1];
	const struct root *rt;
	unsigned int i;

	for (i = 0; i < nroots; i++) {
		rt = &roots[i];
		if (rt->files_left_out == 0 && rt->scripts_left_out == 0)
			continue;
		safe_text(rt->path, sizeof(rt->path), false, shown,
		    sizeof(shown));
		if (rt->files_left_out > 0)
			xo_warnx("%s: %u pidfile%s not read: at most %u are "
			    "read below a root, and %u in all", shown,
			    rt->files_left_out, rt->files_left_out == 1 ? "" :
			    "s", PIDFILE_MAX, PIDFILE_POOL);
		if (rt->scripts_left_out > 0)
			xo_warnx("%s: %u rc script%s not read: at most %u are "
			    "read below a root", shown, rt->scripts_left_out,
			    rt->scripts_left_out == 1 ? "" : "s", SCRIPT_MAX);
	}
}
