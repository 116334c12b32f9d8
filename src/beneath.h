/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Files below the root directory of a process, read through a descriptor
 * of that root: looked up one name at a time, following no symbolic link
 * and never "..", so that nothing outside the root is reached through
 * it.  Each name is looked at before it is opened, and only folders and
 * regular files are opened; no lookup is made where the file system may
 * never answer.
 */
#ifndef STALEWATCH_BENEATH_H
#define STALEWATCH_BENEATH_H

#include <sys/types.h>
#include <sys/stat.h>

#include "procinfo.h"

/* A root whose files are read. */
struct below_root {
	struct procstat *ps;
	int fd;			/* its directory */
	const char *prefix;	/* its path as the tool sees it; "" for the
				   tool's own root */
	uid_t owner;		/* its owner */
};

/*
 * Whether a file of these attributes can be written by nobody but the
 * root's owner: owned by that owner or by uid 0, and not writable by its
 * group or by others.
 */
bool below_trusted(const struct below_root *r, const struct stat *st);

/*
 * Opens name, of the folder dirfd whose path below the root is dirpath
 * ("" for the root itself), for reading: a folder when dir is set, else
 * a regular file (one that is neither cannot be opened, nor is it opened
 * to be found out).  With trusted, only one that below_trusted() allows.
 * Its attributes into *st; the descriptor, or -1 with errno set (ELOOP:
 * a symbolic link; ENOTDIR, or EFTYPE (EINVAL where there is none): not
 * of the kind asked for; EPERM: not to be trusted; EAGAIN: its file
 * system may never answer, or it changed while it was opened; EINVAL:
 * name is no name of a file of that folder).
 */
int below_open_at(const struct below_root *r, int dirfd, const char *dirpath,
    const char *name, bool dir, bool trusted, struct stat *st);

/*
 * Opens the folder path below the root ("run", "etc/init.d"), each of
 * its folders as below_open_at() does: the descriptor, or -1 with errno.
 * When link is given and the last name is a symbolic link, what it holds
 * is stored there (size bytes) and errno is ELOOP.
 */
int below_open_dir(const struct below_root *r, const char *path,
    bool trusted, char *link, size_t size);

#endif
