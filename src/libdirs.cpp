/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Library directories.  A kernel that names mapped files from a cache
 * (FreeBSD's) may have lost the name of a library that is still there,
 * for instance after its directory was renamed or its cache entry was
 * recycled.  Such a library is found again by its identity among the
 * files of the runtime linker's directories; looking them up by name
 * also puts their names back in the cache.
 */
#include <sys/stat.h>
#include <dirent.h>
#include <fcntl.h>
#include <stddef.h>
#include <unistd.h>

#include "libdirs.h"
#include "lookup.h"
#include "mounts.h"

/* How many files are remembered; past that, a library is not confirmed. */
#define LIBFILES_MAX	16384

struct file_id {
	uint64_t dev;
	uint64_t ino;
};

static struct file_id libfiles[LIBFILES_MAX];
static size_t nlibfiles;
static bool libdirs_read;

/*
 * Remembers the identity of every file in one directory, unless it lies
 * on a file system that may never answer.
 */
static void
read_libdir(struct procstat *ps, const char *path)
{
	struct dirent *de;
	struct stat st;
	DIR *dir;

	if (lookup_may_hang(ps, path, 0)) {
		lookup_note(path);
		return;
	}
	dir = opendir(path);
	if (dir == NULL)
		return;
	while ((de = readdir(dir)) != NULL && nlibfiles < LIBFILES_MAX) {
		if (de->d_name[0] == '.')
			continue;
		/* A library is mostly reached through a symbolic link. */
		if (fstatat(dirfd(dir), de->d_name, &st, 0) == -1 ||
		    !S_ISREG(st.st_mode))
			continue;
		libfiles[nlibfiles].dev = (uint64_t)st.st_dev;
		libfiles[nlibfiles].ino = (uint64_t)st.st_ino;
		nlibfiles++;
	}
	closedir(dir);
}

bool
library_present(struct procstat *ps, uint64_t fsid, uint64_t fileid)
{
	const char *const *dirs;
	size_t i;

	if (!libdirs_read) {
		libdirs_read = true;
		dirs = proc_library_dirs(ps);
		for (i = 0; dirs != NULL && dirs[i] != NULL; i++)
			read_libdir(ps, dirs[i]);
	}
	for (i = 0; i < nlibfiles; i++)
		if (libfiles[i].dev == fsid && libfiles[i].ino == fileid)
			return (true);
	return (false);
}
