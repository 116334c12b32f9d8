/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Library folders.  A kernel that names mapped files from a cache
 * (FreeBSD's) may have lost the name of a library that is still there,
 * for instance after its folder was renamed or its cache entry was
 * recycled, and a file mapped through a jail's nullfs mounts often never
 * had a name that the cache keeps.  Such a library is found again by its
 * identity among the files of the runtime linker's folders below the
 * process's root: the folders it searches, those its hints file names,
 * and the trees where plugins and modules live.  Only names with ".so"
 * in them are looked at: the runtime linker's and dlopen's files, as
 * libraries, modules and the linker itself are named.
 *
 * Each root is read once, into one range of the table of files, which
 * is then sorted for searching.  Below a jail's root nothing is looked
 * up through a link that leads out of it (inroot.cpp).
 */
#include <sys/stat.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "hints.h"
#include "inroot.h"
#include "layers.h"
#include "libdirs.h"
#include "xo_c.h"
#include "lookup.h"
#include "mounts.h"

#define ROOT_SIZE	1024
/* The folders of one root read as listed, so a tree skips their files. */
#define LISTED_MAX	256
/* The jails whose root is remembered. */
#define JAILS_MAX	256
#define NO_ROOT		UINT_MAX	/* a jail whose root is not known */

struct libroot {
	char path[ROOT_SIZE];	/* "" for the caller's own root */
	unsigned int first;	/* its files in libfiles */
	unsigned int count;
};

/* What reading one root needs. */
struct reader {
	struct procstat *ps;
	const char *root;	/* its path as the tool sees it, "" for / */
	int rootfd;
	char path[PATH_MAX];	/* the folder being read, from the root */
	struct file_id listed[LISTED_MAX];
	unsigned int nlisted;
};

static struct file_id libfiles[LIBFILES_MAX];
static unsigned int nlibfiles;
static struct libroot roots[LIBROOTS_MAX];
static unsigned int nroots;
static struct {
	int jid;
	unsigned int root;
} jails[JAILS_MAX];
static unsigned int njails;
static unsigned int nfolders;	/* read, of every root */
static bool incomplete;		/* some bound was reached */
static unsigned int roots_unread; /* jail roots not found or opened */

static int
compare_ids(const void *a, const void *b)
{
	const struct file_id *x = (const struct file_id *)a;
	const struct file_id *y = (const struct file_id *)b;

	if (x->dev != y->dev)
		return (x->dev < y->dev ? -1 : 1);
	return (x->ino < y->ino ? -1 : x->ino > y->ino);
}

/* Remembers the file name of folder dirfd, a library if regular. */
static void
note_file(struct reader *rd, int dirfd, const char *name)
{
	char path[PATH_MAX];
	struct stat st;

	if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == -1)
		return;
	/* A library is mostly reached through a link: followed inside. */
	if (S_ISLNK(st.st_mode) && ((size_t)snprintf(path, sizeof(path),
	    "%s/%s", rd->path, name) >= sizeof(path) ||
	    inroot_stat(rd->rootfd, path, &st) == -1))
		return;
	if (!S_ISREG(st.st_mode))
		return;
	if (nlibfiles == LIBFILES_MAX) {
		incomplete = true;
		return;
	}
	libfiles[nlibfiles].dev = lower_device(rd->ps, (uint64_t)st.st_dev);
	libfiles[nlibfiles].ino = (uint64_t)st.st_ino;
	nlibfiles++;
}

/*
 * Whether the folder fd was read as a listed one; with note, it is one
 * from now on.
 */
static bool
listed_folder(struct reader *rd, int fd, bool note)
{
	struct stat st;
	unsigned int i;

	if (fstat(fd, &st) == -1)
		return (false);
	for (i = 0; i < rd->nlisted; i++)
		if (rd->listed[i].dev == (uint64_t)st.st_dev &&
		    rd->listed[i].ino == (uint64_t)st.st_ino)
			return (true);
	if (note && rd->nlisted < LISTED_MAX) {
		rd->listed[rd->nlisted].dev = (uint64_t)st.st_dev;
		rd->listed[rd->nlisted].ino = (uint64_t)st.st_ino;
		rd->nlisted++;
	}
	return (false);
}

/* Whether the bound of files was reached: nothing more can be noted. */
static bool
files_full(void)
{
	return (nlibfiles == LIBFILES_MAX);
}

/*
 * Whether a lookup of path below the root, or of name below it (NULL:
 * none), could wait on a file system that may never answer: then it is
 * noted, for a warning, and not made.
 */
static bool
may_hang_below(struct reader *rd, const char *path, const char *name)
{
	char full[ROOT_SIZE + PATH_MAX + NAME_MAX + 2];

	if ((size_t)snprintf(full, sizeof(full), "%s%s%s%s", rd->root, path,
	    name != NULL ? "/" : "", name != NULL ? name : "") >= sizeof(full))
		return (false);
	if (!lookup_may_hang(rd->ps, full, 0))
		return (false);
	lookup_note(full);
	return (true);
}

/*
 * Reads the folder fd, which it closes, at rd->path: its files unless
 * files is false, and in a tree (depth levels left) the folders below
 * it.  A folder below is entered by its own name, never through a link.
 */
static void
read_folder(struct reader *rd, int fd, bool tree, unsigned int depth,
    bool files)
{
	struct dirent *de;
	size_t len;
	DIR *dir;
	int sub;

	if ((dir = fdopendir(fd)) == NULL) {
		close(fd);
		return;
	}
	if (nfolders == LIBFOLDERS_MAX) {
		incomplete = true;
		closedir(dir);
		return;
	}
	nfolders++;
	len = strlen(rd->path);
	while ((de = readdir(dir)) != NULL && !files_full()) {
		if (de->d_name[0] == '.')
			continue;
		sub = -1;
		if (tree && (de->d_type == DT_DIR ||
		    de->d_type == DT_UNKNOWN) &&
		    !may_hang_below(rd, rd->path, de->d_name))
			sub = openat(dirfd(dir), de->d_name, O_RDONLY |
			    O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		if (sub == -1) {
			if (files && strstr(de->d_name, ".so") != NULL)
				note_file(rd, dirfd(dir), de->d_name);
			continue;
		}
		if (depth == 0 || (size_t)snprintf(rd->path + len,
		    sizeof(rd->path) - len, "/%s", de->d_name) >=
		    sizeof(rd->path) - len) {
			incomplete = true;
			close(sub);
		} else
			read_folder(rd, sub, true, depth - 1,
			    !listed_folder(rd, sub, false));
		rd->path[len] = '\0';
	}
	if (files_full())
		incomplete = true;
	closedir(dir);
}

/* Reads a folder that the runtime linker searches, unless read already. */
static void
read_listed(void *ctx, const char *folder)
{
	struct reader *rd = (struct reader *)ctx;
	int fd;

	if (strlen(folder) >= sizeof(rd->path) ||
	    may_hang_below(rd, folder, NULL))
		return;
	fd = inroot_open(rd->rootfd, folder, O_RDONLY | O_DIRECTORY);
	if (fd == -1)
		return;
	if (listed_folder(rd, fd, true)) {
		close(fd);
		return;
	}
	snprintf(rd->path, sizeof(rd->path), "%s", folder);
	read_folder(rd, fd, false, 0, true);
}

/* Reads a tree: its top and the folders below it, to LIBDEPTH_MAX. */
static void
read_tree(struct reader *rd, const char *top)
{
	int fd;

	if (strlen(top) >= sizeof(rd->path) || may_hang_below(rd, top, NULL))
		return;
	fd = inroot_open(rd->rootfd, top, O_RDONLY | O_DIRECTORY);
	if (fd == -1)
		return;
	snprintf(rd->path, sizeof(rd->path), "%s", top);
	read_folder(rd, fd, true, LIBDEPTH_MAX, !listed_folder(rd, fd, false));
}

/*
 * Reads the folders that a hints file names, as the runtime linker would
 * take them: the list is read with its NUL, which must be there.
 */
static void
read_hints(struct reader *rd, const char *file)
{
	unsigned char head[HINTS_HEADER_SIZE];
	char list[HINTS_LIST_MAX + 1];
	struct stat st;
	uint64_t offset;
	uint32_t len;
	ssize_t n;
	int fd;

	if (may_hang_below(rd, file, NULL))
		return;
	fd = inroot_open(rd->rootfd, file, O_RDONLY | O_NONBLOCK | O_NOCTTY);
	if (fd == -1)
		return;
	n = -1;
	if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
		n = pread(fd, head, sizeof(head), 0);
	if (n < 0 || hints_header(head, (size_t)n, (uint64_t)st.st_size,
	    &offset, &len) == -1) {
		close(fd);
		return;
	}
	if (len <= HINTS_LIST_MAX) {
		n = pread(fd, list, (size_t)len + 1, (off_t)offset);
		if (n != (ssize_t)len + 1 || list[len] != '\0')
			n = -1;
	} else {
		/* Too long to hold: the folders that fit whole. */
		incomplete = true;
		n = pread(fd, list, HINTS_LIST_MAX, (off_t)offset);
		if (n != HINTS_LIST_MAX || memchr(list, '\0', HINTS_LIST_MAX))
			n = -1;
		while (n > 0 && list[n - 1] != ':')
			n--;
	}
	close(fd);
	if (n >= 0)
		hints_folders(list, (size_t)n, read_listed, rd);
}

/* Reads the library folders below the root r. */
static void
read_root(struct procstat *ps, struct libroot *r)
{
	static struct reader rd;
	const struct library_dirs *dirs;
	size_t i;

	r->first = nlibfiles;
	r->count = 0;
	dirs = proc_library_dirs(ps);
	if (dirs == NULL)
		return;
	rd.ps = ps;
	rd.root = r->path;
	if ((r->path[0] != '\0' && may_hang_below(&rd, "", NULL)) ||
	    (rd.rootfd = root_open(r->path)) == -1) {
		roots_unread++;
		return;
	}
	rd.nlisted = 0;
	for (i = 0; dirs->dirs != NULL && dirs->dirs[i] != NULL; i++)
		read_listed(&rd, dirs->dirs[i]);
	for (i = 0; dirs->hints != NULL && dirs->hints[i] != NULL; i++)
		read_hints(&rd, dirs->hints[i]);
	for (i = 0; dirs->trees != NULL && dirs->trees[i] != NULL; i++)
		read_tree(&rd, dirs->trees[i]);
	close(rd.rootfd);
	r->count = nlibfiles - r->first;
	qsort(libfiles + r->first, r->count, sizeof(libfiles[0]), compare_ids);
}

/* Remembers the root of a jail, or NO_ROOT. */
static void
note_jail(int jid, unsigned int root)
{
	if (njails < JAILS_MAX) {
		jails[njails].jid = jid;
		jails[njails].root = root;
		njails++;
	}
}

/*
 * The root of kp's jail, its library folders read; NULL when the jail
 * cannot be found or no more roots can be held.
 */
static const struct libroot *
find_root(struct procstat *ps, const struct kinfo_proc *kp)
{
	char path[ROOT_SIZE];
	unsigned int i;

	for (i = 0; i < njails; i++)
		if (jails[i].jid == kp->ki_jid)
			return (jails[i].root == NO_ROOT ? NULL :
			    &roots[jails[i].root]);
	/* The processes of the caller's own jail have the id 0. */
	path[0] = '\0';
	if (kp->ki_jid != 0 &&
	    proc_jail_root(ps, kp, path, sizeof(path)) == -1) {
		roots_unread++;
		note_jail(kp->ki_jid, NO_ROOT);
		return (NULL);
	}
	for (i = 0; i < nroots && strcmp(roots[i].path, path) != 0; i++)
		continue;
	if (i == nroots) {
		if (nroots == LIBROOTS_MAX) {
			incomplete = true;
			note_jail(kp->ki_jid, NO_ROOT);
			return (NULL);
		}
		memcpy(roots[i].path, path, sizeof(path));
		nroots++;
		read_root(ps, &roots[i]);
	}
	note_jail(kp->ki_jid, i);
	return (&roots[i]);
}

bool
library_present(struct procstat *ps, const struct kinfo_proc *kp,
    uint64_t fsid, uint64_t fileid)
{
	const struct libroot *r;
	struct file_id key;

	if ((r = find_root(ps, kp)) == NULL)
		return (false);
	key.dev = fsid;
	key.ino = fileid;
	return (bsearch(&key, libfiles + r->first, r->count,
	    sizeof(libfiles[0]), compare_ids) != NULL);
}

int
executable_identity(struct procstat *ps, const struct kinfo_proc *kp,
    const char *path, struct file_id *id)
{
	const struct libroot *r;
	struct stat st;
	size_t len;
	int fd, rc;

	if (kp->ki_jid == 0)
		rc = lookup_stat(ps, path, 0, &st) == LOOKUP_DONE ? 0 : -1;
	else if ((r = find_root(ps, kp)) == NULL)
		return (-1);
	else if ((len = strlen(r->path)) > 0 &&
	    strncmp(path, r->path, len) == 0 && path[len] == '/') {
		if (lookup_may_hang(ps, path, 0)) {
			lookup_note(path);
			return (-1);
		}
		if ((fd = root_open(r->path)) == -1)
			return (-1);
		rc = inroot_stat(fd, path + len, &st);
		close(fd);
	} else
		rc = lookup_stat(ps, path, 0, &st) == LOOKUP_DONE ? 0 : -1;
	if (rc == -1)
		return (-1);
	id->dev = lower_device(ps, (uint64_t)st.st_dev);
	id->ino = (uint64_t)st.st_ino;
	return (0);
}

void
libdirs_warn(void)
{
	if (incomplete)
		xo_warnx("library folders not read in full: at most %u files, "
		    "%u folders %u deep and %u roots are read, so a \".so\" "
		    "row may be of a library still there", LIBFILES_MAX,
		    LIBFOLDERS_MAX, LIBDEPTH_MAX, LIBROOTS_MAX);
	if (roots_unread > 0)
		xo_warnx("the root of %u jail%s could not be found or opened: "
		    "a \".so\" row of %s processes may be of a library still "
		    "there",
		    roots_unread, roots_unread == 1 ? "" : "s",
		    roots_unread == 1 ? "its" : "their");
}
